// The library's writes to a caller's stream, against std::ostream::write and std::flush on a twin
// stream: the same bytes reach the buffer, the same buffers are flushed (the stream's own flush
// may flush a unit-buffered stream twice), the same states are left and the same exceptions leave.
#include "text/StreamText.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

// How a case sets up the stream and its buffers.
struct Shape {
    std::size_t room = 1000;
    bool throwsOnWrite = false;
    bool refusesFlush = false;
    bool throwsOnFlush = false;
    std::ios::iostate state = std::ios::goodbit;
    std::ios::iostate mask = std::ios::goodbit;
    bool unitBuffered = false;
    bool tied = false;
    bool tiedRefusesFlush = false;
};

// A stream buffer that takes `room` bytes at most, may throw when written or flushed, and counts
// its flushes.
class TestBuffer : public std::streambuf {
public:
    explicit TestBuffer(const Shape& shape) : shape(shape) {}
    const Shape shape;
    std::string taken;
    int flushes = 0;

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        if (shape.throwsOnWrite) {
            throw std::runtime_error("buffer failed");
        }
        const std::size_t free = taken.size() < shape.room ? shape.room - taken.size() : 0;
        const std::size_t n = std::min(static_cast<std::size_t>(count), free);
        taken.append(std::string_view(text, n));
        return static_cast<std::streamsize>(n);
    }
    int_type overflow(int_type c) override
    {
        const char character = traits_type::to_char_type(c);
        return xsputn(&character, 1) == 1 ? c : traits_type::eof();
    }
    int sync() override
    {
        ++flushes;
        if (shape.throwsOnFlush) {
            throw std::runtime_error("flush failed");
        }
        return shape.refusesFlush ? -1 : 0;
    }
};

// A stream over a test buffer, and another that it may be tied to.
struct Twin {
    explicit Twin(const Shape& shape) : buffer(shape), tiedBuffer(Shape{.refusesFlush = shape.tiedRefusesFlush})
    {
        stream.setstate(shape.state);
        stream.exceptions(shape.mask);
        if (shape.unitBuffered) {
            stream.setf(std::ios::unitbuf);
        }
        if (shape.tied) {
            stream.tie(&tied);
        }
    }
    TestBuffer buffer;
    TestBuffer tiedBuffer;
    std::ostream tied{&tiedBuffer};
    std::ostream stream{&buffer};
};

struct Outcome {
    std::string taken;
    bool flushed;
    bool tiedFlushed;
    std::string thrown;  // "", the stream's own failure's what(), or the buffer's exception's
    std::ios::iostate state;
    std::ios::iostate tiedState;

    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o)
{
    return out << "taken \"" << o.taken << "\", flushed " << o.flushed << ", tied flushed " << o.tiedFlushed
               << ", thrown \"" << o.thrown << "\", state " << o.state << ", tied state " << o.tiedState;
}

Outcome outcomeOf(Twin& twin, const std::function<void(std::ostream&)>& operation)
{
    std::string thrown;
    try {
        operation(twin.stream);
    } catch (const std::ios::failure& failure) {
        thrown = std::string("failure: ") + failure.what();
    } catch (const std::runtime_error& error) {
        thrown = error.what();
    }
    return {twin.buffer.taken,     twin.buffer.flushes > 0, twin.tiedBuffer.flushes > 0, thrown,
            twin.stream.rdstate(), twin.tied.rdstate()};
}

}  // namespace

TEST(StreamTextTest, WritesAndFlushesAsTheStreamsOwnMembersDo)
{
    struct Case {
        const char* what;
        Shape shape;
        bool takesAll;  // what writeToStream answers
    };
    constexpr auto bad = std::ios::badbit;
    constexpr auto fail = std::ios::failbit;
    const Case cases[] = {
        {"a good stream", {}, true},
        {"a stream in a failed state", {.state = fail}, false},
        {"a buffer with room for less", {.room = 3}, false},
        {"a buffer that throws", {.throwsOnWrite = true}, false},
        {"a buffer that throws, badbit in the mask", {.throwsOnWrite = true, .mask = bad}, false},
        {"a stream tied to another", {.tied = true}, true},
        {"a unit-buffered stream", {.unitBuffered = true}, true},
        {"a unit-buffered stream that cannot flush", {.refusesFlush = true, .unitBuffered = true}, false},
        {"a buffer whose flush throws, badbit in the mask", {.throwsOnFlush = true, .mask = bad}, true},
        {"a bad stream", {.state = bad}, false},
        {"a bad stream, failbit in the mask", {.state = bad, .mask = fail}, false},
        {"a buffer with room for less, badbit in the mask", {.room = 3, .mask = bad}, false},
        {"a buffer with room for less, unit-buffered", {.room = 3, .unitBuffered = true}, false},
        {"a buffer that throws, unit-buffered", {.throwsOnWrite = true, .unitBuffered = true}, false},
        {"a stream tied to one that cannot flush", {.tied = true, .tiedRefusesFlush = true}, true},
    };
    const std::string text = "text\n";
    for (const Case& c : cases) {
        Twin library(c.shape);
        Twin reference(c.shape);
        std::optional<bool> answer;
        const Outcome written = outcomeOf(library, [&](std::ostream& s) { answer = qel::writeToStream(s, text); });
        const Outcome expected = outcomeOf(
            reference, [&](std::ostream& s) { s.write(text.data(), static_cast<std::streamsize>(text.size())); });
        EXPECT_EQ(written, expected) << c.what;
        EXPECT_EQ(answer.value_or(false), c.takesAll) << c.what;
        EXPECT_EQ(answer.has_value(), expected.thrown.empty()) << c.what;

        Twin flushedLibrary(c.shape);
        Twin flushedReference(c.shape);
        const Outcome flushed = outcomeOf(flushedLibrary, [](std::ostream& s) { qel::flushStream(s); });
        EXPECT_EQ(flushed, outcomeOf(flushedReference, [](std::ostream& s) { s << std::flush; })) << c.what;
    }
}
