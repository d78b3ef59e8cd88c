#include "exchange/ContactMerge.h"

#include <algorithm>
#include <string_view>

#include "exchange/VCardText.h"

namespace contavio {

namespace {

using IsEmpty = bool (*)(std::string_view);

void mergeField(std::string& field, const std::string& incoming, IsEmpty isEmpty, const char* label,
                MergeRule rule, std::vector<std::string>& warnings) {
    if (isEmpty(incoming)) return;
    if (isEmpty(field)) {
        field = std::string(trimBlanks(incoming));
        return;
    }
    if (trimBlanks(field) == trimBlanks(incoming)) return;
    if (rule == MergeRule::TakeIncoming) {
        warnings.push_back(std::string(label) + ": se reemplaza \xAB" + field + "\xBB por \xAB" +
                           std::string(trimBlanks(incoming)) + "\xBB");
        field = std::string(trimBlanks(incoming));
    } else {
        warnings.push_back(std::string(label) + ": se mantiene \xAB" + field + "\xBB, no \xAB" +
                           std::string(trimBlanks(incoming)) + "\xBB");
    }
}

void mergeList(std::vector<std::string>& list, const std::vector<std::string>& incoming) {
    for (const std::string& item : incoming) {
        const std::string_view text = trimBlanks(item);
        if (isEmptyText(text)) continue;
        const bool present = std::any_of(list.begin(), list.end(), [&](const std::string& have) {
            return trimBlanks(have) == text;
        });
        if (!present) list.emplace_back(text);
    }
}

std::string_view plain(std::string_view text, IsEmpty isEmpty) {
    return isEmpty(text) ? std::string_view() : trimBlanks(text);
}

bool containsItem(const std::vector<std::string>& list, std::string_view item) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& have) { return trimBlanks(have) == item; });
}

// What `now` holds that `was` did not: `now` less the start and the end it
// shares with `was`.
std::string_view addedText(std::string_view was, std::string_view now) {
    size_t front = 0;
    while (front < was.size() && front < now.size() && was[front] == now[front]) ++front;
    size_t back = 0;
    while (back < was.size() - front && back < now.size() - front &&
           was[was.size() - 1 - back] == now[now.size() - 1 - back]) {
        ++back;
    }
    return trimBlanks(now.substr(front, now.size() - front - back));
}

constexpr char kBirthdayLabel[] = "Cumplea\xF1os";

struct Field {
    std::string ContactData::*member;
    IsEmpty isEmpty;
    const char* label;
};

const Field kFields[] = {
    {&ContactData::firstNames, isEmptyText, "Nombres"},
    {&ContactData::surnames, isEmptyText, "Apellidos"},
    {&ContactData::address, isEmptyText, "Direcci\xF3n"},
    {&ContactData::web, isEmptyText, "Web URL"},
    {&ContactData::day, isEmptyDay,
     "D\xED"
     "a"},
    {&ContactData::month, isEmptyMonth, "Mes"},
    {&ContactData::notes, isEmptyText, "Notas"},
};

}  // namespace

ThreeWayResult mergeThreeWay(const ContactData& bookBase, const ContactData& book,
                             const ContactData& theirBase, const ContactData& theirs) {
    ThreeWayResult result{book, {}};
    ContactData& c = result.contact;
    for (const Field& f : kFields) {
        if (f.member == &ContactData::day || f.member == &ContactData::month) continue;
        const std::string_view their = plain(theirs.*f.member, f.isEmpty);
        const std::string_view theirWas = plain(theirBase.*f.member, f.isEmpty);
        if (their == theirWas) continue;
        const std::string_view ours = plain(book.*f.member, f.isEmpty);
        if (ours == plain(bookBase.*f.member, f.isEmpty)) {
            c.*f.member = std::string(their);
        } else if (ours == their) {
            continue;
        } else if (f.member != &ContactData::notes) {
            result.conflicts.push_back({f.label, std::string(their)});
        } else if (!ours.empty() && their.find(ours) != std::string_view::npos) {
            // Their note holds all of the book's and more (a run cut short
            // before the book was saved left it so): nothing is lost.
            c.notes = std::string(their);
        } else if (const std::string_view added = addedText(theirWas, their);
                   !added.empty() && ours.find(added) == std::string_view::npos) {
            result.conflicts.push_back({f.label, std::string(added)});
        }
    }
    // The birthday is one field: a day of one side and a month of the other
    // would make a date nobody entered.
    const auto birthday = [](const ContactData& x) {
        return std::pair(plain(x.day, isEmptyDay), plain(x.month, isEmptyMonth));
    };
    if (const auto their = birthday(theirs); their != birthday(theirBase)) {
        const auto ours = birthday(book);
        if (ours == birthday(bookBase)) {
            c.day = std::string(their.first);
            c.month = std::string(their.second);
        } else if (ours != their) {
            std::string value(their.first);
            if (!their.second.empty())
                value += (value.empty() ? "" : " de ") + std::string(their.second);
            result.conflicts.push_back({kBirthdayLabel, value});
        }
    }
    for (auto list : {&ContactData::phones, &ContactData::emails}) {
        std::vector<std::string>& items = c.*list;
        std::erase_if(items, [&](const std::string& item) {
            const std::string_view text = trimBlanks(item);
            return containsItem(theirBase.*list, text) && !containsItem(theirs.*list, text);
        });
        for (const std::string& item : theirs.*list) {
            const std::string_view text = trimBlanks(item);
            if (isEmptyText(text) || containsItem(theirBase.*list, text)) continue;
            if (!containsItem(items, text)) items.emplace_back(text);
        }
    }
    return result;
}

ContactData unchangedFrom(const ContactData& contact, const ContactData& base,
                          const ContactData& other) {
    ContactData result = contact;
    for (const Field& f : kFields) {
        if (f.member == &ContactData::day || f.member == &ContactData::month) continue;
        if (plain(contact.*f.member, f.isEmpty) == plain(base.*f.member, f.isEmpty)) {
            result.*f.member = other.*f.member;
        }
    }
    // The birthday is one field: the day of one side and the month of the
    // other would make a date nobody entered.
    if (plain(contact.day, isEmptyDay) == plain(base.day, isEmptyDay) &&
        plain(contact.month, isEmptyMonth) == plain(base.month, isEmptyMonth)) {
        result.day = other.day;
        result.month = other.month;
    }
    return result;
}

std::vector<std::string> conflictLines(const std::vector<FieldConflict>& conflicts,
                                       const std::string& today, const std::string& side) {
    std::vector<std::string> lines;
    for (const FieldConflict& f : conflicts)
        lines.push_back("[" + today + "] " + side + ", " + f.label + ": " + f.theirs);
    return lines;
}

void appendNoteLine(std::string& notes, const std::string& line) {
    // The book keeps a note on one line: each conflict is a dated piece of it.
    if (isEmptyText(notes)) notes.clear();
    if (!notes.empty()) notes += ' ';
    notes += line;
}

MergeResult mergeContact(const ContactData& stored, const ContactData& incoming, MergeRule rule) {
    MergeResult result{stored, false, {}};
    ContactData& c = result.contact;
    auto& w = result.warnings;
    mergeField(c.firstNames, incoming.firstNames, isEmptyText, "Nombres", rule, w);
    mergeField(c.surnames, incoming.surnames, isEmptyText, "Apellidos", rule, w);
    mergeField(c.address, incoming.address, isEmptyText, "Direcci\xF3n", rule, w);
    mergeField(c.web, incoming.web, isEmptyText, "Web URL", rule, w);
    mergeField(c.day, incoming.day, isEmptyDay,
               "D\xED"
               "a",
               rule, w);
    mergeField(c.month, incoming.month, isEmptyMonth, "Mes", rule, w);
    mergeField(c.notes, incoming.notes, isEmptyText, "Notas", rule, w);
    mergeList(c.phones, incoming.phones);
    mergeList(c.emails, incoming.emails);
    result.changed = !(c == stored);
    return result;
}

}  // namespace contavio
