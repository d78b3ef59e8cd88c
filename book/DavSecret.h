// The password of a CardDAV account in the desktop's secret store (Secret
// Service, through QtKeychain): service "Contavio", key
// "carddav:<user>@<host>". Read only here; the account's own code stores it.
#pragma once

#include <QString>
#include <optional>

namespace contavio {

inline constexpr char kSecretService[] = "Contavio";

QString serverSecretKey(const QString& user, const QString& host);

// The password, or none when there is no secret store, no such entry, or
// the store did not answer within timeoutMs.
std::optional<QString> readServerPassword(const QString& user, const QString& host,
                                          int timeoutMs = 5000);

}  // namespace contavio
