#pragma once

// Standard input, line by line, as events: a reader thread of its own hands
// each line (without its end of line) to `onLine` and the end of the input
// to `onEnd`, once. The destructor wakes and joins the reader, so neither
// callback runs afterwards. Nothing polls: the reader sleeps in poll(2) on
// the input and on an eventfd the destructor writes to.
//
// While a password is typed, setEcho(false) switches the terminal's echo
// off; the destructor puts the terminal back as it found it.
//
// Threads: callbacks run on the reader thread; the other members from the
// thread that made the object.

#include <functional>
#include <memory>
#include <string>

namespace cadrio::app::cli {

class TerminalInput {
public:
    TerminalInput(int fd, std::function<void(std::string line)> onLine, std::function<void()> onEnd);
    ~TerminalInput();
    TerminalInput(const TerminalInput&) = delete;
    TerminalInput& operator=(const TerminalInput&) = delete;

    bool isTerminal() const;
    /// No effect when the input is not a terminal.
    void setEcho(bool on);

private:
    struct Reader;
    std::unique_ptr<Reader> reader_;
};

}  // namespace cadrio::app::cli
