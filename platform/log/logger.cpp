#include "platform/log/logger.hpp"

#include <cstdlib>
#include <string_view>
#include <system_error>

#include "core/support/thread_annotations.hpp"
#include "platform/log/journal_sink.hpp"

namespace cadrio::log {
namespace {

Mutex processSinkMutex;
std::shared_ptr<Sink> processSinkInstance CADRIO_GUARDED_BY(processSinkMutex);

}  // namespace

std::shared_ptr<Sink> processSink() {
    const LockGuard lock(processSinkMutex);
    if (!processSinkInstance) processSinkInstance = makeDefaultSink();
    return processSinkInstance;
}

void setProcessSink(std::shared_ptr<Sink> sink) {
    const LockGuard lock(processSinkMutex);
    processSinkInstance = std::move(sink);
}

std::shared_ptr<Sink> makeDefaultSink() {
    return detail::makeDefaultSink(kJournalSocket, std::getenv("CADRIO_LOG_TARGET"), std::getenv("CADRIO_LOG_LEVEL"));
}

namespace detail {

std::shared_ptr<Sink> makeDefaultSink(const std::filesystem::path& journalSocket, const char* targetVariable,
                                      const char* levelVariable) {
    const Level minimum = levelFromName(levelVariable != nullptr ? levelVariable : "").value_or(Level::info);
    auto stream = std::make_shared<StreamSink>(2, minimum);
    const bool forceStream = targetVariable != nullptr && std::string_view(targetVariable) == "stderr";
    std::error_code ignored;
    if (forceStream || !std::filesystem::exists(journalSocket, ignored)) return stream;
    return std::make_shared<JournalSink>(std::move(stream), minimum, journalSocket);
}

}  // namespace detail

void Logger::emit(Sink& sink, Level level, std::string message) const {
    sink.write(Record{.time = clock_->wallNow(),
                      .level = level,
                      .subsystem = subsystem_,
                      .category = category_,
                      .message = std::move(message)});
}

}  // namespace cadrio::log
