#pragma once
// Strict, typed decoding of JSON responses: the one place where wire values
// are checked. A response type describes its keys once, in a
// `JsonObjectPlan`; the decoder then streams the body through nlohmann's SAX
// parser straight into the typed value, so a change page of a hundred
// thousand records never exists as a generic JSON tree.
//
// Every failure is DriveError::decoding whose text names the key path and
// what was wrong, e.g. "files[3].id: expected an integer, got 1.5".
//
// Rules:
// - A required key (a member that is not std::optional) that is missing or
//   null fails; an optional key that is missing or null is absent. Keys not
//   in the plan are skipped. When a key repeats, the last value wins.
// - Integers are signed 64-bit. A number is accepted when its value is
//   integral and fits: 12 and 12.0 (and 1.2e1) read as 12, as the platform
//   decoders do; 1.5, 9223372036854775808 and 1e30 fail. Strings and
//   booleans never read as numbers, nor numbers as strings or booleans.
// - Doubles accept any finite number (a literal too large for a double,
//   such as 1e400, fails).
//
// Plans are immutable after construction and may be shared by threads.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/model/drive_error.hpp"

namespace cadrio {

/// One scalar value as the parser reports it. `text` (a string's content, or
/// a floating number's literal as written) points into the parser's buffer
/// and is valid only during the call that receives it.
struct JsonScalar {
    enum class Type { null, boolean, integer, unsignedInteger, floating, string };

    Type type = Type::null;
    bool boolean = false;
    std::int64_t integer = 0;
    std::uint64_t unsignedInteger = 0;
    double floating = 0;
    std::string_view text;

    /// The number itself, true/false/null, or "a string": for error texts.
    std::string description() const;
};

/// Where a value sits, for error texts. The decoder knows it as a stack of
/// keys and positions and spells it ("files[3].id") only when a value fails.
class JsonLocation {
public:
    virtual std::string text() const = 0;

protected:
    ~JsonLocation() = default;
};

/// Scalar conversions; each throws DriveError::decoding("<path>: ...").
std::int64_t int64Value(const JsonScalar& value, const JsonLocation& path);
double doubleValue(const JsonScalar& value, const JsonLocation& path);
std::string stringValue(const JsonScalar& value, const JsonLocation& path);
bool boolValue(const JsonScalar& value, const JsonLocation& path);

/// A byte count carried as a number: any number whose value, rounded half
/// away from zero, fits a signed 64-bit integer; returned unrounded.
double byteCountValue(const JsonScalar& value, const JsonLocation& path);

/// `value` rounded half away from zero; values that cannot be represented
/// saturate and NaN gives 0. Decoding has already refused such values; this
/// keeps hand-built records safe too.
std::int64_t roundedByteCount(double value) noexcept;

/// DriveError::decoding with "<path>: <problem>", or just the problem when
/// the path is empty (the document itself).
[[noreturn]] void failDecoding(const JsonLocation& path, std::string_view problem);

// ---- Plans -----------------------------------------------------------------
// Type-erased descriptions the streaming decoder follows. Build them with
// `JsonObjectPlan<T>` and the field helpers below, never by hand.

struct JsonErasedObjectPlan;

/// How to read the elements of an array.
struct JsonArrayPlan {
    /// Objects: appends a default element to the container and returns it;
    /// `reserve` makes room for that many elements at once.
    const JsonErasedObjectPlan* elementPlan = nullptr;
    void* (*appendObject)(void* container) = nullptr;
    void (*reserve)(void* container, std::size_t elements) = nullptr;
    /// Scalars: converts and appends one element.
    void (*appendScalar)(void* container, const JsonScalar& value, const JsonLocation& path) = nullptr;
};

struct JsonFieldPlan {
    std::string_view key;
    bool required = false;
    /// What the value must be, for error texts ("an integer", "an array").
    std::string_view expected;
    /// Stores a scalar (null included, for optional fields) into the object;
    /// for an array field, accepts only null.
    void (*readScalar)(void* object, const JsonScalar& value, const JsonLocation& path) = nullptr;
    /// Arrays: empties the member and returns the container to fill.
    void* (*startArray)(void* object) = nullptr;
    JsonArrayPlan array;
};

struct JsonErasedObjectPlan {
    std::vector<JsonFieldPlan> fields;  // at most 64: the decoder tracks them in one bit set
};

/// Streams `body` into `target`: an object described by `objectPlan`, or,
/// when that is null, a container filled by `arrayPlan` from a body that is
/// an array.
void decodeJsonInto(std::string_view body, void* target, const JsonErasedObjectPlan* objectPlan,
                    const JsonArrayPlan* arrayPlan);

template <class T>
class JsonObjectPlan {
public:
    JsonObjectPlan(std::initializer_list<JsonFieldPlan> fields);
    const JsonErasedObjectPlan& erased() const noexcept { return plan_; }

private:
    JsonErasedObjectPlan plan_;
};

namespace json_plan_detail {

template <class M>
struct IsOptional : std::false_type {
    using Value = M;
};
template <class M>
struct IsOptional<std::optional<M>> : std::true_type {
    using Value = M;
};

/// The member's type without its std::optional.
template <class M>
using ValueOf = typename IsOptional<M>::Value;

template <class V>
struct ScalarReader;
template <>
struct ScalarReader<std::int64_t> {
    static constexpr std::string_view expected = "an integer";
    static std::int64_t read(const JsonScalar& v, const JsonLocation& p) { return int64Value(v, p); }
};
template <>
struct ScalarReader<double> {
    static constexpr std::string_view expected = "a number";
    static double read(const JsonScalar& v, const JsonLocation& p) { return doubleValue(v, p); }
};
template <>
struct ScalarReader<std::string> {
    static constexpr std::string_view expected = "a string";
    static std::string read(const JsonScalar& v, const JsonLocation& p) { return stringValue(v, p); }
};
template <>
struct ScalarReader<bool> {
    static constexpr std::string_view expected = "a boolean";
    static bool read(const JsonScalar& v, const JsonLocation& p) { return boolValue(v, p); }
};
struct ByteCountReader {
    static constexpr std::string_view expected = "a number";
    static double read(const JsonScalar& v, const JsonLocation& p) { return byteCountValue(v, p); }
};

template <class C>
struct MemberTraits;
template <class Object, class Member>
struct MemberTraits<Member Object::*> {
    using ObjectType = Object;
    using MemberType = Member;
};

template <auto Member>
using ObjectOf = typename MemberTraits<decltype(Member)>::ObjectType;
template <auto Member>
using MemberOf = typename MemberTraits<decltype(Member)>::MemberType;

// Null reaches this only for optional members (the decoder refuses null for
// required ones), and resets them.
template <auto Member, class Reader>
void readScalarInto(void* object, const JsonScalar& value, const JsonLocation& path) {
    auto& member = static_cast<ObjectOf<Member>*>(object)->*Member;
    if constexpr (IsOptional<MemberOf<Member>>::value) {
        if (value.type == JsonScalar::Type::null) {
            member.reset();
            return;
        }
    }
    member = Reader::read(value, path);
}

template <auto Member>
void* startVector(void* object) {
    auto& member = static_cast<ObjectOf<Member>*>(object)->*Member;
    if constexpr (IsOptional<MemberOf<Member>>::value) {
        return &member.emplace();
    } else {
        member.clear();
        return &member;
    }
}

template <class Element>
JsonArrayPlan objectArrayPlan(const JsonErasedObjectPlan& elementPlan) {
    JsonArrayPlan plan;
    plan.elementPlan = &elementPlan;
    plan.appendObject = [](void* container) -> void* {
        return &static_cast<std::vector<Element>*>(container)->emplace_back();
    };
    plan.reserve = [](void* container, std::size_t elements) {
        static_cast<std::vector<Element>*>(container)->reserve(elements);
    };
    return plan;
}

template <class Reader>
void appendRead(void* container, const JsonScalar& value, const JsonLocation& path) {
    using Vector = std::vector<std::remove_cvref_t<decltype(Reader::read(value, path))>>;
    static_cast<Vector*>(container)->push_back(Reader::read(value, path));
}

// An optional member that is absent resets it; an array field whose value
// is null is handled here too.
template <auto Member>
void readNullArray(void* object, const JsonScalar& value, const JsonLocation& path) {
    if (value.type != JsonScalar::Type::null) failDecoding(path, "expected an array, got " + value.description());
    if constexpr (IsOptional<MemberOf<Member>>::value) (static_cast<ObjectOf<Member>*>(object)->*Member).reset();
}

template <auto Member, class Reader>
JsonFieldPlan scalarField(std::string_view key) {
    JsonFieldPlan plan;
    plan.key = key;
    plan.required = !IsOptional<MemberOf<Member>>::value;
    plan.expected = Reader::expected;
    plan.readScalar = &readScalarInto<Member, Reader>;
    return plan;
}

}  // namespace json_plan_detail

/// A key read into a member of type int64_t, double, std::string, bool,
/// std::vector<std::string>, or std::optional of one of them (optional key).
template <auto Member>
JsonFieldPlan field(std::string_view key) {
    using namespace json_plan_detail;
    using Value = ValueOf<MemberOf<Member>>;
    if constexpr (std::is_same_v<Value, std::vector<std::string>>) {
        JsonFieldPlan plan;
        plan.key = key;
        plan.required = !IsOptional<MemberOf<Member>>::value;
        plan.expected = "an array";
        plan.readScalar = &readNullArray<Member>;
        plan.startArray = &startVector<Member>;
        plan.array.appendScalar = &appendRead<ScalarReader<std::string>>;
        return plan;
    } else {
        return scalarField<Member, ScalarReader<Value>>(key);
    }
}

/// A byte count (see byteCountValue) read into a double or optional double.
template <auto Member>
JsonFieldPlan byteCountField(std::string_view key) {
    return json_plan_detail::scalarField<Member, json_plan_detail::ByteCountReader>(key);
}

/// An array of objects read into std::vector<Element> or its optional, each
/// element by `elementPlan`, which must outlive the returned field.
template <auto Member, class Element>
JsonFieldPlan objectArrayField(std::string_view key, const JsonObjectPlan<Element>& elementPlan) {
    using namespace json_plan_detail;
    static_assert(std::is_same_v<ValueOf<MemberOf<Member>>, std::vector<Element>>,
                  "the member must be a vector of the plan's element type");
    JsonFieldPlan plan;
    plan.key = key;
    plan.required = !IsOptional<MemberOf<Member>>::value;
    plan.expected = "an array";
    plan.readScalar = &readNullArray<Member>;
    plan.startArray = &startVector<Member>;
    plan.array = objectArrayPlan<Element>(elementPlan.erased());
    return plan;
}

template <class T>
JsonObjectPlan<T>::JsonObjectPlan(std::initializer_list<JsonFieldPlan> fields) : plan_{fields} {
    static_assert(std::default_initializable<T>);
    if (plan_.fields.size() > 64) throw std::logic_error("a JSON object plan holds at most 64 keys");
}

/// Decodes a body that is one object.
template <class T>
T decodeJsonObject(std::string_view body, const JsonObjectPlan<T>& plan) {
    T value{};
    decodeJsonInto(body, &value, &plan.erased(), nullptr);
    return value;
}

/// Decodes a body that is an array of objects.
template <class Element>
std::vector<Element> decodeJsonObjectArray(std::string_view body, const JsonObjectPlan<Element>& plan) {
    std::vector<Element> elements;
    const JsonArrayPlan arrayPlan = json_plan_detail::objectArrayPlan<Element>(plan.erased());
    decodeJsonInto(body, &elements, nullptr, &arrayPlan);
    return elements;
}

}  // namespace cadrio
