// French text for a terminal of 80 columns: what the tools print goes through
// here, so that every tool wraps, cuts and writes its numbers the same way.
// A text is UTF-8; a column is one character (no wide characters are used).
#pragma once

#include <string>
#include <string_view>

namespace texte {

// U+00A0: French typography puts one before : ; ? ! and inside « ».
extern const std::string insecable;

// Columns a text takes: one a character (UTF-8 continuation bytes take none).
std::size_t colonnes(std::string_view texte);
// The number of first bytes of texte that take at most n columns.
std::size_t octets_pour(std::string_view texte, std::size_t n);

// At most n columns: the text as it is, or its first n - 1 characters and an
// ellipsis.
std::string couper(std::string_view texte, std::size_t n);
// The same, then padded with blanks to n columns (a table's column).
std::string colonne(std::string_view texte, std::size_t n);
// Blanks first, so that the text ends at column n (a figure in a table).
std::string a_droite(std::string_view texte, std::size_t n);

// A non-breaking space where the text has an ordinary one before : ; ? ! and
// after « or before ».
std::string typographie(std::string_view texte);

// The text folded into lines of at most largeur columns, after debut on the
// first line; the lines after the first start with retrait blanks. Words are
// separated by blanks (a non-breaking space holds two words together), '\n'
// starts a new line, and a word wider than a line is cut where the line ends.
// The result ends with '\n'.
std::string plier(std::string_view debut, std::string_view texte, std::size_t retrait,
                  std::size_t largeur = 80);

// A figure with a decimal comma and the given number of decimals: 0,25.
std::string virgule(double v, int decimales);
// Digits in groups of three, held by non-breaking spaces: 3 450.
std::string par_milliers(std::string_view chiffres);
// Three significant digits, a decimal comma, thousands grouped:
// 131, 15,2, 0,0381, 3 450.
std::string nombre(double v);

// printf's formatting into a string, however long the result.
[[gnu::format(printf, 1, 2)]] std::string formater(const char *format, ...);

// What a program wrote, quoted: « vu », or « rien » when it wrote nothing.
std::string citer(std::string_view vu);

} // namespace texte
