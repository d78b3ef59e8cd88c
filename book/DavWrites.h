// The writes of a sync sent several at once: up to kWritesInFlight requests
// in flight, each on a connection of its own (one on the caller's client, the
// others on clients of their own, each on a thread of its own), since a
// server answers one request of a connection at a time.
#pragma once

#include <functional>
#include <vector>

#include "book/DavClient.h"

namespace contavio {

inline constexpr int kWritesInFlight = 4;

struct DavWrite {
    QByteArray method;  // PUT, DELETE
    QUrl url;
    QByteArray body;
    DavHeaders headers;
    DavReply reply;  // the server's answer, once sent
};

// Sends every write (a status in answers is an answer, as in
// DavClient::send). A failure stops the writes not yet begun, and the first
// one is thrown once those in flight ended. The requests of the other
// clients are counted into client's. answered hears how many were answered
// so far after each answer, one call at a time, on any of the threads.
void sendAll(DavClient& client, std::vector<DavWrite>& writes, const QList<int>& answers,
             const std::function<void(size_t)>& answered = {});

}  // namespace contavio
