// The suite's failure report, shared by the programs that fork or exec.
#pragma once

// Writes "<texte>: <system message for errno>\n" on standard error, exactly as
// perror does, then ends the process. The exit status is the errno value the
// failed call left, saved before the report is written; when that value is 0
// (end of input: no system error at all) the status is 1, so that a failure
// is never reported as success.
//
// texte is "Echec <call> ", trailing blank included.
//
// C linkage, so that an exercise written in C can call it too.
#ifdef __cplusplus
extern "C" [[noreturn]]
#else
_Noreturn
#endif
void signaler_echec(const char *texte);
