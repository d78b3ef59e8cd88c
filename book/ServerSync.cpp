#include "book/ServerSync.h"

namespace contavio {

struct ServerSync::Impl {};

ProbeResult probeServer(const ServerTarget&) { throw ServerError(QStringLiteral("todavía no")); }

ServerSync::ServerSync(ServerTarget, const std::string&, SyncOptions) {}
ServerSync::~ServerSync() = default;
BookChanges ServerSync::run(const BookContacts&, SyncReport&) {
    throw ServerError(QStringLiteral("todavía no"));
}
void ServerSync::commit() {}
QUrl ServerSync::addressBookUrl() const { return {}; }
std::string serverStatePath(const std::string&, const ServerTarget&) { return {}; }

}  // namespace contavio
