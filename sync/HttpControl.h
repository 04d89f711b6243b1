#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "link/CommandFrame.h"

class QObject;

namespace kv {

// Where the current download stands.
enum class HttpState {
    idle,      // nothing started, or cancelled
    refused,   // getDoc could not start it (a malformed address, a file that cannot be opened)
    running,   // started, not ended yet
    complete,  // the server answered with a whole document, which is in the file
    failed,    // ended without a whole document; the file is gone
};

// How the last download went, for the window and the log.
struct HttpOutcome {
    HttpState state = HttpState::idle;
    // The server's HTTP status once complete (an error page is complete too); otherwise 0.
    int status = 0;
    // Why a download failed or was refused, in plain Czech words (UTF-8), e.g. "spojení
    // odmítnuto"; empty otherwise.
    std::string cause;
    // Bytes of the document written to the file so far.
    std::uint64_t bytes = 0;
    // From getDoc to the end of the download, or until now while it runs.
    std::chrono::milliseconds elapsed{0};
    // The failure was writing the file (a full disk), not the server or the network.
    bool localFault = false;
    // The server was reached and the connection broke (cut in the reply, reset): no wrong
    // address, no server that is not there.
    bool connectionBroke = false;

    bool complete() const { return state == HttpState::complete; }
    // A whole document with a 2xx status: content the bridge may use.
    bool succeeded() const { return complete() && status >= 200 && status < 300; }
};

// Whether the server may get a request twice.  A request that records something (an event)
// goes out once: a connection the server drops before answering is a failure, never a silent
// second try, because the server may have recorded it.  A request that only reads (the tables,
// the poll) may be sent again, and so may travel on a connection kept open between requests.
enum class Repeat { never, allowed };

// The download of one URL into a file, polled for completion once per tick.  Never blocks.
class HttpControl {
public:
    virtual ~HttpControl() = default;
    // Starts a GET of the URL as it stands (no escaping) whose document is streamed into file,
    // abandoning any download still running.  False when the download cannot be started; then
    // nothing is running and outcome() is refused with the reason.
    virtual bool getDoc(const Bytes& url, const std::filesystem::path& file, Repeat repeat) = 0;
    // Abandons the running download, if any.  A completed or failed download keeps its outcome.
    virtual void cancel() = 0;
    // How the last download stands or ended; a failure shows here as soon as it happens, and
    // a download is complete only once the whole document is in the file and the file is
    // closed, whatever the HTTP status.
    virtual HttpOutcome outcome() const = 0;
};

// The production control, on QNetworkAccessManager.
std::unique_ptr<HttpControl> makeQtHttpControl(QObject* parent);

}  // namespace kv
