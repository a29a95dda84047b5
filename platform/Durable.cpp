// What a durable file does alike on every OS: it moves, and closes with its
// owner (closing is each OS's own).
#include "platform/Durable.h"

#include <utility>

namespace platform {

DurableFile::DurableFile(DurableFile&& other) noexcept
    : handle(std::exchange(other.handle, closed)),
      folderPending(std::exchange(other.folderPending, false)),
      filePath(std::move(other.filePath)) {}

DurableFile& DurableFile::operator=(DurableFile&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, closed);
        folderPending = std::exchange(other.folderPending, false);
        filePath = std::move(other.filePath);
    }
    return *this;
}

}  // namespace platform
