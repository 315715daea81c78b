#pragma once
// The dealer's error value: ok, or a text for a person. Nothing inside the dealer
// throws for bad input; every fallible step returns one of these.

#include <string>
#include <utility>

namespace pellora::dealer {

class [[nodiscard]] Status {
public:
    Status() = default;  // ok
    static Status ok() { return Status(); }
    static Status error(std::string text) { return Status(std::move(text), true); }

    bool isOk() const { return !failed_; }
    const std::string& text() const { return text_; }

    // Prefixes the text with where it happened ("world.json: ", "database: ").
    Status context(const std::string& where) const {
        return isOk() ? *this : Status::error(where + text_);
    }

private:
    Status(std::string text, bool failed) : text_(std::move(text)), failed_(failed) {}
    std::string text_;
    bool failed_ = false;
};

} // namespace pellora::dealer
