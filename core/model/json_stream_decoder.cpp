// The streaming side of json_decoding: nlohmann's SAX parser checks the
// grammar and UTF-8 and reports events; this handler follows the plans and
// writes each value straight into its typed destination. The parser keeps
// its own state in a vector, and so does this handler, so deeply nested
// input cannot exhaust the stack.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/model/json_decoding.hpp"

namespace cadrio {
namespace {

struct Frame {
    enum class Kind { object, array, skip };

    Kind kind = Kind::skip;
    const JsonErasedObjectPlan* objectPlan = nullptr;  // object
    const JsonArrayPlan* arrayPlan = nullptr;          // array
    void* target = nullptr;                             // object: the value; array: the container
    std::uint64_t seen = 0;                             // object: one bit per field of the plan
    int field = -1;                                     // object: field of the last key, -1 unknown
    std::size_t position = 0;                           // array: index of the element being read
    std::size_t depth = 0;                              // skip: containers still open
};

class StreamDecoder final : public JsonLocation {
public:
    using number_integer_t = nlohmann::json::number_integer_t;
    using number_unsigned_t = nlohmann::json::number_unsigned_t;
    using number_float_t = nlohmann::json::number_float_t;
    using string_t = nlohmann::json::string_t;
    using binary_t = nlohmann::json::binary_t;

    StreamDecoder(void* target, const JsonErasedObjectPlan* objectPlan, const JsonArrayPlan* arrayPlan,
                  std::size_t expectedObjects)
        : rootTarget_(target),
          rootObjectPlan_(objectPlan),
          rootArrayPlan_(arrayPlan),
          expectedObjects_(expectedObjects) {
        frames_.reserve(8);
    }

    bool null() { return scalar({}); }
    bool boolean(bool value) {
        JsonScalar scalar;
        scalar.type = JsonScalar::Type::boolean;
        scalar.boolean = value;
        return this->scalar(scalar);
    }
    bool number_integer(number_integer_t value) {
        JsonScalar scalar;
        scalar.type = JsonScalar::Type::integer;
        scalar.integer = value;
        return this->scalar(scalar);
    }
    bool number_unsigned(number_unsigned_t value) {
        JsonScalar scalar;
        scalar.type = JsonScalar::Type::unsignedInteger;
        scalar.unsignedInteger = value;
        return this->scalar(scalar);
    }
    bool number_float(number_float_t value, const string_t& literal) {
        JsonScalar scalar;
        scalar.type = JsonScalar::Type::floating;
        scalar.floating = value;
        scalar.text = literal;
        return this->scalar(scalar);
    }
    bool string(string_t& value) {
        JsonScalar scalar;
        scalar.type = JsonScalar::Type::string;
        scalar.text = value;
        return this->scalar(scalar);
    }
    bool binary(binary_t& /*value*/) { return false; }  // never produced by the JSON reader

    bool key(string_t& name) {
        Frame& frame = frames_.back();
        if (frame.kind != Frame::Kind::object) return true;
        frame.field = -1;
        const auto& fields = frame.objectPlan->fields;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].key == name) {
                frame.field = static_cast<int>(i);
                frame.seen |= std::uint64_t{1} << i;
                break;
            }
        }
        return true;
    }

    bool start_object(std::size_t /*elements*/) { return startContainer(Frame::Kind::object); }
    bool start_array(std::size_t /*elements*/) { return startContainer(Frame::Kind::array); }
    bool end_object() { return endContainer(); }
    bool end_array() { return endContainer(); }

    bool parse_error(std::size_t /*position*/, const std::string& /*lastToken*/,
                     const nlohmann::detail::exception& error) {
        // nlohmann prefixes its texts with "[json.exception.parse_error.101] ".
        std::string_view text = error.what();
        if (const auto end = text.find("] "); text.starts_with("[json.") && end != std::string_view::npos) {
            text.remove_prefix(end + 2);
        }
        throw DriveError::decoding("not JSON: " + std::string(text));
    }

    /// The path of the value being read: the pending key of every object
    /// and the current position of every array, outermost first.
    std::string text() const override { return pathText(frames_.size(), true); }

private:
    std::string pathText(std::size_t frameCount, bool withPendingKey) const {
        std::string path;
        for (std::size_t i = 0; i < frameCount; ++i) {
            const Frame& frame = frames_[i];
            if (frame.kind == Frame::Kind::array) {
                path += '[' + std::to_string(frame.position) + ']';
            } else if (frame.kind == Frame::Kind::object && frame.field >= 0 &&
                       (withPendingKey || i + 1 < frameCount)) {
                if (!path.empty()) path += '.';
                path += frame.objectPlan->fields[static_cast<std::size_t>(frame.field)].key;
            }
        }
        return path;
    }

    bool scalar(const JsonScalar& value) {
        if (frames_.empty()) {
            failDecoding(*this, std::string("expected ") + (rootObjectPlan_ ? "an object" : "an array") +
                                    ", got " + value.description());
        }
        Frame& frame = frames_.back();
        switch (frame.kind) {
            case Frame::Kind::skip: break;
            case Frame::Kind::object: {
                if (frame.field < 0) break;
                const JsonFieldPlan& field = frame.objectPlan->fields[static_cast<std::size_t>(frame.field)];
                if (value.type == JsonScalar::Type::null && field.required) {
                    failDecoding(*this, "required value is null");
                }
                field.readScalar(frame.target, value, *this);
                break;
            }
            case Frame::Kind::array:
                if (frame.arrayPlan->appendScalar == nullptr) {
                    failDecoding(*this, "expected an object, got " + value.description());
                }
                frame.arrayPlan->appendScalar(frame.target, value, *this);
                ++frame.position;
                break;
        }
        return true;
    }

    bool startContainer(Frame::Kind kind) {
        const std::string_view got = kind == Frame::Kind::object ? "an object" : "an array";
        if (frames_.empty()) return startRoot(kind, got);
        Frame& parent = frames_.back();
        Frame child;
        child.kind = kind;
        switch (parent.kind) {
            case Frame::Kind::skip:
                ++parent.depth;
                return true;
            case Frame::Kind::object: {
                if (parent.field < 0) return skip();
                const JsonFieldPlan& field = parent.objectPlan->fields[static_cast<std::size_t>(parent.field)];
                if (kind != Frame::Kind::array || field.startArray == nullptr) {
                    failDecoding(*this, "expected " + std::string(field.expected) + ", got " + std::string(got));
                }
                child.arrayPlan = &field.array;
                child.target = field.startArray(parent.target);
                break;
            }
            case Frame::Kind::array:
                if (kind != Frame::Kind::object || parent.arrayPlan->elementPlan == nullptr) {
                    failDecoding(*this, "expected " +
                                            std::string(parent.arrayPlan->elementPlan ? "an object" : "a string") +
                                            ", got " + std::string(got));
                }
                child.objectPlan = parent.arrayPlan->elementPlan;
                child.target = parent.arrayPlan->appendObject(parent.target);
                break;
        }
        if (child.arrayPlan != nullptr && child.arrayPlan->reserve != nullptr) {
            child.arrayPlan->reserve(child.target, expectedObjects_);
        }
        frames_.push_back(child);
        return true;
    }

    bool startRoot(Frame::Kind kind, std::string_view got) {
        Frame root;
        root.kind = kind;
        root.target = rootTarget_;
        if (kind == Frame::Kind::object && rootObjectPlan_ != nullptr) {
            root.objectPlan = rootObjectPlan_;
        } else if (kind == Frame::Kind::array && rootObjectPlan_ == nullptr) {
            root.arrayPlan = rootArrayPlan_;
            if (root.arrayPlan->reserve != nullptr) root.arrayPlan->reserve(root.target, expectedObjects_);
        } else {
            failDecoding(*this, std::string("expected ") + (rootObjectPlan_ ? "an object" : "an array") +
                                    ", got " + std::string(got));
        }
        frames_.push_back(root);
        return true;
    }

    bool skip() {
        Frame skipped;
        skipped.kind = Frame::Kind::skip;
        skipped.depth = 1;
        frames_.push_back(skipped);
        return true;
    }

    bool endContainer() {
        Frame& frame = frames_.back();
        if (frame.kind == Frame::Kind::skip && --frame.depth > 0) return true;
        if (frame.kind == Frame::Kind::object) checkRequired(frame);
        frames_.pop_back();
        if (!frames_.empty() && frames_.back().kind == Frame::Kind::array) ++frames_.back().position;
        return true;
    }

    void checkRequired(const Frame& frame) const {
        const auto& fields = frame.objectPlan->fields;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].required && (frame.seen & (std::uint64_t{1} << i)) == 0) {
                std::string path = pathText(frames_.size(), false);
                if (!path.empty()) path += '.';
                path += fields[i].key;
                throw DriveError::decoding(path + ": required key is missing");
            }
        }
    }

    void* rootTarget_;
    const JsonErasedObjectPlan* rootObjectPlan_;
    const JsonArrayPlan* rootArrayPlan_;
    std::size_t expectedObjects_;
    std::vector<Frame> frames_;
};

// How many objects an array of the body may hold, to reserve its room at
// once: growing a vector of a hundred thousand records step by step moves
// them and touches fresh memory at every step, which costs more than the
// lexing itself. The body's opening braces bound the objects it holds; the
// size cap keeps a body of braces inside strings from reserving much more
// memory than the records it could possibly carry.
std::size_t expectedObjectCount(std::string_view body) {
    constexpr std::size_t kSmallestRecordBytes = 32;
    const auto braces = static_cast<std::size_t>(std::count(body.begin(), body.end(), '{'));
    return std::min(braces, body.size() / kSmallestRecordBytes);
}

}  // namespace

void decodeJsonInto(std::string_view body, void* target, const JsonErasedObjectPlan* objectPlan,
                    const JsonArrayPlan* arrayPlan) {
    // The parser takes a NUL byte for the end of the text and would accept
    // whatever follows it; a raw NUL is never valid JSON.
    if (const auto nul = body.find('\0'); nul != std::string_view::npos) {
        throw DriveError::decoding("not JSON: NUL byte at offset " + std::to_string(nul));
    }
    StreamDecoder decoder(target, objectPlan, arrayPlan, expectedObjectCount(body));
    nlohmann::json::sax_parse(body, &decoder);
}

}  // namespace cadrio
