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

}  // namespace

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
