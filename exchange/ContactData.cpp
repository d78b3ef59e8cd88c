#include "exchange/ContactData.h"

#include "exchange/VCardText.h"

namespace contavio {

std::string contactKeyOf(const ContactData& contact) {
    return contact.firstNames + contact.surnames;
}

bool isEmptyText(std::string_view text) {
    text = trimBlanks(text);
    return text.empty() || text == kEmptyText;
}

bool isEmptyDay(std::string_view day) { return isEmptyText(day) || trimBlanks(day) == kDayPrompt; }

bool isEmptyMonth(std::string_view month) {
    return isEmptyText(month) || trimBlanks(month) == kMonthPrompt;
}

int monthNumber(std::string_view month) {
    for (size_t i = 0; i < kMonthNames.size(); ++i) {
        if (month == kMonthNames[i]) return static_cast<int>(i) + 1;
    }
    return 0;
}

int dayNumber(std::string_view day) {
    if (day.empty() || day.size() > 2 || day[0] < '1' || day[0] > '9') return 0;
    if (day.size() == 2 && (day[1] < '0' || day[1] > '9')) return 0;
    const int n = day.size() == 1 ? day[0] - '0' : (day[0] - '0') * 10 + (day[1] - '0');
    return n <= 31 ? n : 0;
}

bool isValidBirthday(int day, int month) {
    static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month >= 1 && month <= 12 && day >= 1 && day <= kDays[month - 1];
}

}  // namespace contavio
