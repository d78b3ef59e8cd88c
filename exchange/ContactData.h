// One contact as the main window shows it, outside the record store: every
// text in Windows-1252, the pickers' texts as they stand, the lists in the
// order of their list boxes. Used to carry contacts to and from vCard files.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace contavio {

struct ContactData {
    std::string firstNames{};
    std::string surnames{};
    std::string address{};  // one line
    std::string web{};
    std::string day{};    // the day picker's text: "1".."31", or its prompt
    std::string month{};  // the month picker's text: "Enero".."Diciembre", or its prompt
    std::string notes{};  // one line
    std::vector<std::string> phones{};
    std::vector<std::string> emails{};

    bool operator==(const ContactData&) const = default;
};

// The editor's text for an empty field, and the pickers' prompts ("Día").
inline constexpr std::string_view kEmptyText = "n/a";
inline constexpr std::string_view kDayPrompt =
    "D\xED"
    "a";
inline constexpr std::string_view kMonthPrompt = "Mes";

// The month picker's items; the ninth month is spelled "Setiembre".
inline constexpr std::array<std::string_view, 12> kMonthNames = {
    "Enero", "Febrero", "Marzo",     "Abril",   "Mayo",      "Junio",
    "Julio", "Agosto",  "Setiembre", "Octubre", "Noviembre", "Diciembre"};

// The key the window forms: first names followed directly by surnames.
std::string contactKeyOf(const ContactData& contact);

// True for a text that stands for nothing: empty or blanks, "n/a", and for
// the pickers also their prompts "Día" and "Mes".
bool isEmptyText(std::string_view text);
bool isEmptyDay(std::string_view day);
bool isEmptyMonth(std::string_view month);

// The month number 1..12 of a picker text, or 0.
int monthNumber(std::string_view month);

// The day number of a picker text "1".."31" (no leading zero), or 0.
int dayNumber(std::string_view day);

// Whether day/month is a date of some year (29 February included).
bool isValidBirthday(int day, int month);

}  // namespace contavio
