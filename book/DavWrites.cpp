#include "book/DavWrites.h"

#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "book/Ansi.h"

namespace contavio {

void sendAll(DavClient& client, std::vector<DavWrite>& writes, const QList<int>& answers,
             const std::function<void(size_t)>& answered) {
    std::atomic<size_t> next{0};
    size_t done = 0;
    std::atomic<bool> failed{false};
    std::atomic<int> requests{0};
    std::mutex lock;
    std::optional<ServerError> error;
    const auto work = [&](DavClient& own) {
        try {
            for (size_t i; !failed && (i = next++) < writes.size();) {
                DavWrite& w = writes[i];
                w.reply = own.send(w.method, w.url, w.body, w.headers, answers);
                if (answered) {
                    const std::lock_guard<std::mutex> held(lock);
                    answered(++done);
                }
            }
        } catch (const ServerError& e) {
            const std::lock_guard<std::mutex> held(lock);
            if (!error) error = e;
            failed = true;
        } catch (const std::exception& e) {
            const std::lock_guard<std::mutex> held(lock);
            if (!error) error = ServerError(fromErrorText(e.what()));
            failed = true;
        }
    };
    std::vector<std::unique_ptr<QThread>> others;
    const size_t workers = std::min<size_t>(kWritesInFlight, writes.size());
    for (size_t i = 1; i < workers; ++i) {
        others.emplace_back(QThread::create([&] {
            DavClient own(client.target());
            own.stayAtOrigin(client.stayingAt());
            work(own);
            requests += own.requests();
        }));
        others.back()->start();
    }
    work(client);
    for (const auto& thread : others) thread->wait();
    client.countRequests(requests);
    if (error) throw *error;
}

}  // namespace contavio
