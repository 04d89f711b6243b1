#pragma once

#include <string>

namespace kv {

// How an operation the operator asked for went.
enum class OperationResult {
    done,
    communicationStopped,  // refused: the port stays closed until Start
    requestUnderWay,       // refused: it would replace the web request under way
    notSent,               // the port is lost or closed: the frame did not go out
    unitBusy,              // refused: a table download or fictitious events are going out
};

// What the operator is told about a refused operation (Czech, UTF-8); empty when it was done.
std::string operationMessage(OperationResult result);

}  // namespace kv
