#include "msi/KestMsiObject.h"
#include "SimTest.h"
#include "msi/KestMsiBoolProperty.h"
#include "msi/KestMsiDirectory.h"

#include <iomanip>
#include <sstream>
#include <string>
#include <typeinfo>
#include <utility>
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

TEST_F(ObjectTest, DumpsFlushAfterEveryLineAndTheBaseWritesThreeAlignedLines)
{
    const MSIHANDLE session = sim::openSession();
    const KestMsiHandle handle(session, true);
    const KestMsiBoolProperty flag(handle, "PROMPT_FOR_CD1");
    const KestMsiDirectory directory(handle, "INSTALLDIR");
    for (const KestMsiObject* object :
         {static_cast<const KestMsiObject*>(&flag), static_cast<const KestMsiObject*>(&directory)}) {
        FlushRecorder buffer;
        std::ostream stream(&buffer);
        object->dump(stream);
        EXPECT_EQ(buffer.flushedAt, lineEnds(buffer.str())) << buffer.str();
    }

    FlushRecorder buffer;
    std::ostream stream(&buffer);
    directory.KestMsiObject::dump(stream);
    std::ostringstream address;
    address << static_cast<const void*>(&directory);
    EXPECT_EQ(buffer.str(), "ObjectType    = class KestMsiDirectory\nObjectAddress = " + address.str() +
                                "\nObjectHandle  = " + std::to_string(session) + "\n");
    EXPECT_EQ(buffer.flushedAt, lineEnds(buffer.str())) << "a flush after every line";
}

namespace app::settings {
class Stored : public KestMsiObject {};
}  // namespace app::settings
template <class T>
class Held : public KestMsiObject {
};

// A dump's ObjectType names the most-derived class as the C++ library's demangler would, for a
// class at namespace scope, nested in namespaces or not; any other class by its compiler name.
TEST_F(ObjectTest, ADumpNamesTheMostDerivedClass)
{
    struct Local : public KestMsiObject {};
    const app::settings::Stored stored;
    const Held<int> held;
    const Local local;
    const std::pair<const KestMsiObject*, std::string> cases[] = {
        {&stored, "class app::settings::Stored"},
        {&held, std::string("class ") + typeid(held).name()},
        {&local, std::string("class ") + typeid(local).name()},
    };
    for (const auto& [object, type] : cases) {
        std::ostringstream dumped;
        object->dump(dumped);
        EXPECT_EQ(dumped.str().substr(0, dumped.str().find('\n')), "ObjectType    = " + type);
    }
}

// A dump writes its text through the stream's buffer and leaves the stream as its own chain of
// inserters would: the caller's format settings neither change its bytes nor are changed by it; a
// stream already failed takes nothing; a flush refused (a full disk) or a null text (the last line
// here) makes the stream bad and it takes nothing more, so that the caller can tell a dump that was
// lost; with badbit in its exception mask it throws std::ios_base::failure.
TEST_F(ObjectTest, ADumpLeavesTheStreamAsItsOwnInsertersWould)
{
    class FlushRefused : public std::stringbuf {
    protected:
        int sync() override { return -1; }
    };
    class Counted : public KestMsiObject {
    public:
        void dump(std::ostream& stream) const override
        {
            KestMsiObject::dump(stream);
            dumpLine(stream, "Count = ", std::to_string(7));
            dumpLine(stream, "Name = ", static_cast<const char*>(nullptr));
        }
    };
    const Counted object;
    std::ostringstream plain;
    object.dump(plain);
    const std::string all = plain.str();
    ASSERT_TRUE(all.ends_with("\nCount = 7\nName = ")) << all;
    struct Case {
        const char* what;
        void (*set)(std::ostream&);
        bool refusesFlush;
        std::string written;
    };
    const Case cases[] = {
        {"hexadecimal, base shown, upper case",
         [](std::ostream& s) { s << std::hex << std::showbase << std::uppercase; }, false, all},
        {"wide, filled, left", [](std::ostream& s) { s << std::setw(40) << std::setfill('*') << std::left; }, false,
         all},
        {"failed already", [](std::ostream& s) { s.setstate(std::ios::failbit); }, false, ""},
        {"a flush refused", [](std::ostream&) {}, true, all.substr(0, all.find('\n') + 1)},
    };
    for (const Case& c : cases) {
        for (const bool throws : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (throws ? ", throwing" : ""));
            FlushRefused refusing;
            std::stringbuf accepting;
            std::ostream stream(c.refusesFlush ? static_cast<std::streambuf*>(&refusing) : &accepting);
            c.set(stream);
            const auto flags = stream.flags();
            const auto width = stream.width();
            stream.exceptions(throws ? std::ios::badbit : std::ios::goodbit);
            bool failure = false;
            try {
                object.dump(stream);
            } catch (const std::ios::failure&) {
                failure = true;
            }
            EXPECT_EQ(failure, throws);
            EXPECT_TRUE(stream.bad());
            EXPECT_EQ((c.refusesFlush ? refusing : accepting).str(), c.written);
            if (!failure) {
                EXPECT_EQ(stream.flags(), flags);
                EXPECT_EQ(stream.width(), width);
            }
        }
    }
}
