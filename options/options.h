// How every tool of the suite is called. Each reads its options with
// getopt_long, its option string starting with ':' (so that getopt_long says
// nothing itself), and answers the same way:
//   -h, --help   the usage on stdout, exit status 0;
//   --version    "NOM (Processus en direct) VERSION" on stdout, status 0;
//   a mistake    "NOM : what was wrong" then the usage, on stderr, status 2.
#pragma once

#include <string>

namespace options {

// The suite's version, as the project's build names it.
extern const char *const version;

// The version line on stdout; returns 0, the exit status.
int montrer_version(const char *nom);

// What getopt_long found wrong when it returned '?' (an unknown option) or
// ':' (an option without its value), in French: « option inconnue
// « --x » », « il manque la valeur de --niveau ».
std::string faute(int resultat, char *const argv[]);

// The mistake, folded to 80 columns after "NOM : ", then the usage, on
// stderr; returns 2, the exit status.
int erreur_d_usage(const char *nom, const std::string &message, const std::string &usage);

} // namespace options
