// The Debian packages that bring the programs the suite's tools start
// themselves, named where one is missing. They are among the packages
// prerequisites/debian lists (its build line).
#pragma once

#include <string>

namespace lancement {

// cc and c++, which verifier and arbre compile with: g++ depends on gcc.
inline const std::string paquet_compilateur = "g++";

// What to do when cc or c++ is missing, in French: the package and the
// command that installs it.
inline std::string installer_le_compilateur()
{
    return "Le paquet Debian " + paquet_compilateur + " fournit cc et c++\u00a0: apt-get install " +
           paquet_compilateur;
}

} // namespace lancement
