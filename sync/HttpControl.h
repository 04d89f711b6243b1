#pragma once

#include <filesystem>
#include <memory>

#include "link/CommandFrame.h"

class QObject;

namespace kv {

// The download of one URL into a file, polled for completion once per tick.  Never blocks.
class HttpControl {
public:
    virtual ~HttpControl() = default;
    // Starts a GET of the URL as it stands (no escaping) whose document is streamed into file,
    // abandoning any download still running.  False when the download cannot be started (for
    // instance a malformed address); then nothing is running.
    virtual bool getDoc(const Bytes& url, const std::filesystem::path& file) = 0;
    // True once the whole document is in the file and the file is closed.
    virtual bool isComplete() = 0;
    // Abandons the running download, if any.
    virtual void cancel() = 0;
    // Why the last getDoc returned false, in plain words (UTF-8).
    virtual std::string lastError() const = 0;
};

// The production control, on QNetworkAccessManager.
std::unique_ptr<HttpControl> makeQtHttpControl(QObject* parent);

}  // namespace kv
