// Finding the address book on a CardDAV server from the address the user
// gave: an address book itself; a principal or an address-book home; or the
// server, through its well-known address (/.well-known/carddav) and the
// current user's principal, whose addressbook-home-set holds the address
// books. The one named in the URL or in target.addressBook (display name or
// last path segment), else the only one the user may write (its
// current-user-privilege-set, asked in the same PROPFIND): read-only ones
// are not offered.
#pragma once

#include "book/DavClient.h"
#include "book/ServerSync.h"

namespace contavio {

// Throws ServerError when the server cannot be asked (see DavClient); a
// server that answers but holds no address book that fits is a result with
// ok false and the reason in error.
ProbeResult discoverAddressBook(DavClient& client, const ServerTarget& target);

}  // namespace contavio
