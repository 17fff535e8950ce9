#include "msi/KestMsiObject.h"
#include "SimTest.h"
#include "msi/KestMsiBoolProperty.h"
#include "msi/KestMsiDirectory.h"

#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A stream that remembers how much text had arrived at each flush.
class FlushRecorder : public std::stringbuf {
public:
    std::vector<std::size_t> flushedAt;

protected:
    int sync() override
    {
        flushedAt.push_back(str().size());
        return std::stringbuf::sync();
    }
};

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Where each line of `text` ends, counted in characters from its start.
std::vector<std::size_t> lineEnds(const std::string& text)
{
    std::vector<std::size_t> ends;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        ends.push_back(at + 1);
    }
    return ends;
}

}  // namespace

using ObjectTest = SimTest;

TEST_F(ObjectTest, AnObjectStartsAGroupOfItsOwnAndNeverJoinsItsSource)
{
    const MSIHANDLE record = sim::makeRecord({sim::Null{}});
    const KestMsiHandle source(record, false);
    {
        const KestMsiObject borrowing(source, true);
        EXPECT_EQ(source.getHandleCount(), 1);
        EXPECT_EQ(borrowing.getHandle().getHandleCount(), 1);
        EXPECT_EQ(borrowing.getHandle().getMsiHandle(), record);
    }
    EXPECT_TRUE(sim::handleInfo(record)->open);
    {
        const KestMsiObject owning(source, false);
    }
    EXPECT_FALSE(sim::handleInfo(record)->open) << "an owning object closes the raw handle when its group ends";
}

TEST_F(ObjectTest, SetHandleMovesTheObjectToTheOtherGroup)
{
    const MSIHANDLE first = sim::makeRecord({sim::Null{}});
    const MSIHANDLE second = sim::makeRecord({sim::Null{}});
    KestMsiObject object(KestMsiHandle(first, false), false);
    const KestMsiHandle other(second, false);

    object.setHandle(other);
    EXPECT_FALSE(sim::handleInfo(first)->open);
    EXPECT_EQ(other.getHandleCount(), 2);
    EXPECT_EQ(object.getHandle().getMsiHandle(), second);
}

TEST_F(ObjectTest, DerivedDumpsFlushAfterEveryLineOfTheirOwnToo)
{
    const KestMsiHandle session(sim::openSession(), true);
    const KestMsiBoolProperty flag(session, "PROMPT_FOR_CD1");
    const KestMsiDirectory directory(session, "INSTALLDIR");
    for (const KestMsiObject* object :
         {static_cast<const KestMsiObject*>(&flag), static_cast<const KestMsiObject*>(&directory)}) {
        FlushRecorder buffer;
        std::ostream stream(&buffer);
        object->dump(stream);
        EXPECT_EQ(buffer.flushedAt, lineEnds(buffer.str())) << buffer.str();
    }
}

TEST_F(ObjectTest, DumpWritesThreeAlignedLinesEachFlushed)
{
    const MSIHANDLE session = sim::openSession();
    const KestMsiDirectory directory(KestMsiHandle(session, true), "INSTALLDIR");
    FlushRecorder buffer;
    std::ostream stream(&buffer);

    directory.KestMsiObject::dump(stream);

    const auto lines = linesOf(buffer.str());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "ObjectType    = class KestMsiDirectory");
    std::ostringstream address;
    address << static_cast<const void*>(&directory);
    EXPECT_EQ(lines[1], "ObjectAddress = " + address.str());
    EXPECT_EQ(lines[2], "ObjectHandle  = " + std::to_string(session));
    EXPECT_EQ(buffer.flushedAt, lineEnds(buffer.str())) << "a flush after every line";
}

// A dump writes its text through the stream's buffer: the caller's format settings neither change
// its bytes nor are changed by it; a stream in a failed state takes nothing.
TEST_F(ObjectTest, DumpsLeaveTheStreamsSettingsAloneAndSkipAFailedStream)
{
    class Counted : public KestMsiObject {
    public:
        void dump(std::ostream& stream) const override
        {
            KestMsiObject::dump(stream);
            dumpLine(stream, "Count = ", std::to_string(7));
            dumpLine(stream, "Name = ", static_cast<const char*>(nullptr));
        }
    };
    struct Case {
        const char* what;
        void (*set)(std::ostream&);
    };
    const Case cases[] = {
        {"plain", [](std::ostream&) {}},
        {"hexadecimal, base shown, upper case",
         [](std::ostream& s) { s << std::hex << std::showbase << std::uppercase; }},
        {"wide, filled, left", [](std::ostream& s) { s << std::setw(40) << std::setfill('*') << std::left; }},
    };
    const Counted object;
    std::ostringstream plain;
    object.dump(plain);
    EXPECT_NE(plain.str().find("Count = 7\nName = "), std::string::npos) << plain.str();
    for (const Case& c : cases) {
        std::ostringstream set;
        c.set(set);
        const auto flags = set.flags();
        const auto width = set.width();
        object.dump(set);
        EXPECT_EQ(set.str(), plain.str()) << c.what;
        EXPECT_EQ(set.flags(), flags) << c.what;
        EXPECT_EQ(set.width(), width) << c.what;
    }
    std::ostringstream failed;
    failed.setstate(std::ios::failbit);
    object.dump(failed);
    EXPECT_EQ(failed.str(), "");
}

// A dump leaves the caller's stream as its own chain of inserters would leave it, so that the
// caller can tell a dump that was lost: a flush refused after the first line (a full disk) or a
// null text makes the stream bad, and it takes nothing more; with badbit in its exception mask it
// throws std::ios_base::failure.
TEST_F(ObjectTest, ADumpThatFailsLeavesTheStreamBad)
{
    class FlushRefused : public std::stringbuf {
    protected:
        int sync() override { return -1; }
    };
    class NullName : public KestMsiObject {
    public:
        void dump(std::ostream& stream) const override
        {
            dumpLine(stream, "Name = ", static_cast<const char*>(nullptr));
        }
    };
    const KestMsiObject plain;
    const NullName nullName;
    struct Case {
        const char* what;
        const KestMsiObject& object;
        bool refusesFlush;
        std::string written;
    };
    const Case cases[] = {
        {"a flush refused", plain, true, "ObjectType    = class KestMsiObject\n"},
        {"a null text", nullName, false, "Name = "},
    };
    for (const Case& c : cases) {
        for (const bool throws : {false, true}) {
            FlushRefused refusing;
            std::stringbuf accepting;
            std::ostream stream(c.refusesFlush ? static_cast<std::streambuf*>(&refusing) : &accepting);
            stream.exceptions(throws ? std::ios::badbit : std::ios::goodbit);
            bool failure = false;
            try {
                c.object.dump(stream);
            } catch (const std::ios::failure&) {
                failure = true;
            }
            EXPECT_EQ(failure, throws) << c.what;
            EXPECT_TRUE(stream.bad()) << c.what;
            EXPECT_EQ((c.refusesFlush ? refusing : accepting).str(), c.written) << c.what;
        }
    }
}
