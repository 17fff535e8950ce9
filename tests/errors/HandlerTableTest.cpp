// Every library method that passes exceptions on, against its row of the table of handler sets:
// an exception of each kind, thrown inside the method by one of its platform calls, must leave the
// method as the row says (class, history entries, texts), both when it names the method itself as
// its origin and when it names another one.
#include "SimTest.h"
#include "errors/EKestMsiError.h"
#include "errors/PersistingRule.h"
#include "messages/KestMsiMessageProcessor.h"
#include "msi/KestMsiBoolProperty.h"
#include "msi/KestMsiDirectory.h"
#include "msi/KestMsiRecord.h"

#include <functional>
#include <ios>
#include <ostream>
#include <sstream>
#include <string>
#include <typeindex>
#include <vector>

using namespace persisting;

namespace {

using Inject = std::function<void()>;

struct Row {
    const char* context;
    const char* fileName;
    Handler invalidParameter;
    Handler winError;
    Handler exception;
    const char* catchAll;
    // Calls the method, arranging for `inject` to run inside it.
    std::function<void(const Inject& inject)> run;
};

// Runs `inject` right before the next call of a platform function.
Inject at(const char* function, const Inject& inject)
{
    sim::beforeCall(function, 1, inject);
    return inject;
}

KestMsiHandle session()
{
    return KestMsiHandle(sim::openSession(), true);
}

// A stream that fails its writes with the injected exception.
class FailingBuffer : public std::streambuf {
public:
    explicit FailingBuffer(Inject inject) : inject(std::move(inject)) {}

protected:
    std::streamsize xsputn(const char*, std::streamsize) override
    {
        inject();
        return 0;
    }
    int_type overflow(int_type) override
    {
        inject();
        return traits_type::eof();
    }

private:
    Inject inject;
};

// A processor whose exception report fails with the injected exception.
class FailingReportProcessor : public KestMessageProcessor {
public:
    explicit FailingReportProcessor(Inject inject) : inject(std::move(inject)) {}
    bool logMessage(const EKestException&) override
    {
        inject();
        return true;
    }
    using KestMessageProcessor::logMessage;

private:
    Inject inject;
};

const char* const wasTrapped = "Unknown exception was trapped";

const Row rows[] = {
    {"KestMsiMessageProcessor::dialogBox(KestMsiHandle&, INSTALLMESSAGE, const unsigned int", "KestMsiMessageProcessor",
     none, none, checkedEndsIt(), wasTrapped,
     [](const Inject& inject) {
         KestMsiHandle installation = session();
         KestMsiMessageProcessor processor;
         at("MsiProcessMessage", inject);
         processor.dialogBox(installation, INSTALLMESSAGE_INFO, 26002u);
     }},
    {"KestMsiMessageProcessor::dialogBox(KestMsiHandle&, INSTALLMESSAGE, const KestMsiRecord&)",
     "KestMsiMessageProcessor", none, none, checked(), noCatchAll,
     [](const Inject& inject) {
         KestMsiHandle installation = session();
         KestMsiMessageProcessor processor;
         const KestMsiRecord record(1);
         at("MsiProcessMessage", inject);
         processor.dialogBox(installation, INSTALLMESSAGE_INFO, record);
     }},
    {"KestMsiProperty::read", "KestMsiProperty", none, checked(), unchecked(), wasTrapped,
     [](const Inject& inject) {
         at("MsiGetPropertyA", inject);
         KestMsiBoolProperty(session(), "P").read();
     }},
    {"KestMsiProperty::write", "KestMsiProperty", none, checked(), unchecked(), wasTrapped,
     [](const Inject& inject) {
         at("MsiSetPropertyA", inject);
         KestMsiBoolProperty(session(), "P").write("1");
     }},
    {"KestMsiDirectory::write", "KestMsiDirectory", none, checked("Pesisting exception"), unchecked(), wasTrapped,
     [](const Inject& inject) {
         at("MsiSetTargetPathA", inject);
         KestMsiDirectory(session(), "INSTALLDIR").write();
     }},
    {"KestMsiDirectory::cacheValue", "KestMsiDirectory", checked("Pesisting exception"), checked(), checked(),
     wasTrapped,
     [](const Inject& inject) {
         at("MsiGetTargetPathA", inject);
         KestMsiDirectory(session(), "INSTALLDIR").cacheValue(KestMsiDirectory::TargetDir);
     }},
    {"KestMsiREcord::KestMsiRecord(const size_type)", "KestMsiRecord", none, checked(), unchecked(), wasTrapped,
     [](const Inject& inject) {
         at("MsiCreateRecord", inject);
         KestMsiRecord record(1);
     }},
    {"KestMsiRecord::setRecordFormat", "KestMsiRecord", none, checked(), unchecked(), "Unknonw exception was trapped",
     [](const Inject& inject) {
         KestMsiRecord record(1);
         at("MsiRecordSetStringA", inject);
         record.setRecordFormat("[1]");
     }},
    {"KestMsiRecord::setStringField", "KestMsiRecord", none, checked(), checked(), "Unknonw exception was trapped",
     [](const Inject& inject) {
         KestMsiRecord record(1);
         at("MsiRecordSetStringA", inject);
         record.setStringField(1, "text");
     }},
    {"KestMsiRecord::setIntegerField", "KestMsiRecord", none, none, checked(), "Unknonw exception was trapped",
     [](const Inject& inject) {
         KestMsiRecord record(1);
         at("MsiRecordSetInteger", inject);
         record.setIntegerField(1, 7);
     }},
    {"KestMsiRecord::setStreamField()", "KestMsiRecord", none, none, checked(), "Unknonw exception was trapped",
     [](const Inject& inject) {
         KestMsiRecord record(1);
         at("MsiRecordSetStreamA", inject);
         record.setStreamField(1, "file.bin");
     }},
    {"KestMsiRecord::integerField", "KestMsiRecord", none, checked(), unchecked(), "Unknown exception trapped",
     [](const Inject& inject) {
         KestMsiRecord record(1);
         at("MsiRecordGetInteger", inject);
         record.integerField(1);
     }},
    {"KestMsiRecord::getStreamField()", "KestMsiRecord", none, checked(), unchecked(), "Unknown exception trapped",
     [](const Inject& inject) {
         KestMsiRecord record(1);
         std::vector<char> bytes;
         at("MsiRecordReadStream", inject);
         record.getStreamField(1, bytes);
     }},
    {"KestMsiRecord::stringData", "KestMsiRecord", none, none, checked(), wasTrapped,
     [](const Inject& inject) {
         KestMsiRecord record(1);
         at("MsiRecordGetStringA", inject);
         record.stringData(record.getHandle(), 1);
     }},
    {"EKestMsiError::getWinErrorMessage", "EKestMsiError", none, none, checked(), wasTrapped,
     [](const Inject& inject) {
         at("MsiGetLastErrorRecord", inject);
         EKestMsiError(1603, "Owner::call", "Owner", 1, "Function Failed: MsiX()");
     }},
    {"KestMessageProcessor::initialize(const KestCString)", "KestMessageProcessor", none, none, checked(), wasTrapped,
     [](const Inject& inject) {
         KestMessageProcessor processor;
         at("GetTempPathW", inject);
         processor.initialize(KestCString("setup.log"));
     }},
    {"KestMessageProcessor::uninitialize", "KestMessageProcessor", none, checked("Pesisting exception"),
     unchecked("Pesisting exception"), wasTrapped,
     [](const Inject& inject) {
         KestMessageProcessor processor;
         at("GetTempPathW", inject);
         processor.uninitialize();
     }},
    {"KestMessageProcessor::writeLog", "KestMessageProcessor", none, none, unchecked(), wasTrapped,
     [](const Inject& inject) {
         FailingBuffer buffer(inject);
         std::ostream stream(&buffer);
         stream.exceptions(std::ios::badbit);
         KestMessageProcessor processor;
         processor.initialize(stream);
         processor.writeLog("%s", "text");
     }},
    {"KestMessageProcessor::getPersistanceFileName", "KestMessageProcessor", none, none, unchecked(), wasTrapped,
     [](const Inject& inject) {
         KestMessageProcessor processor;
         at("IsDBCSLeadByte", inject);
         processor.getPersistanceFileName("setup.log");
     }},
    {"KestMessageProccessor::messageBox(HWND, const KestCString&, UINT, LPCTSTR, ...", "KestMessageProcessor", none,
     unchecked(), unchecked(), wasTrapped,
     [](const Inject& inject) {
         KestMessageProcessor processor;
         at("MessageBoxA", inject);
         processor.messageBox(nullptr, "Caption", MB_OK, "%s", "text");
     }},
    {"KestMessageProcessor::messageBox(HWND, UINT, const EKestException& ", "KestMessageProcessor", none, none,
     unchecked(), wasTrapped,
     [](const Inject& inject) {
         FailingReportProcessor processor(inject);
         processor.messageBox(nullptr, MB_OK, EKestException("Owner::call", "Owner", 1, "reported"));
     }},
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.context;
}

enum class Kind { invalidParameter, winError, exception, foreign };

[[noreturn]] void raise(Kind kind, const char* context)
{
    switch (kind) {
    case Kind::invalidParameter:
        throw EKestInvalidParameter(context, "Elsewhere", 7, "injected");
    case Kind::winError:
        throw EKestWinError(ERROR_ACCESS_DENIED, context, "Elsewhere", 7, "injected");
    case Kind::exception:
        throw EKestException(context, "Elsewhere", 7, "injected");
    case Kind::foreign:
        break;
    }
    throw 42;
}

// What leaves the method: an exception of the family, the foreign one unchanged, or nothing.
struct Outcome {
    std::string what;  // class name, "int", or "returned"
    std::vector<std::string> comments;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome)
{
    out << outcome.what << " {";
    for (const auto& comment : outcome.comments) {
        out << " \"" << comment << '"';
    }
    return out << " }";
}

// What the row says must leave the method.
Outcome expected(const Row& row, Kind kind, bool raisedInTheMethod)
{
    struct Typed {
        const Handler& handler;
        bool takes;
        const char* className;
    };
    const Typed typed[] = {
        {row.invalidParameter, kind == Kind::invalidParameter, "EKestInvalidParameter"},
        {row.winError, kind == Kind::winError, "EKestWinError"},
        {row.exception, kind != Kind::foreign, "EKestException"},
    };
    for (const Typed& t : typed) {
        if (t.handler.form == Form::none || !t.takes) {
            continue;
        }
        if (t.handler.form == Form::endsIt) {
            return {"returned", {}};  // whatever it recorded ended with it
        }
        std::vector<std::string> comments{"injected"};
        if (t.handler.form == Form::unchecked || !raisedInTheMethod) {
            comments.emplace_back(t.handler.text);
        }
        return {t.className, comments};
    }
    if (row.catchAll != noCatchAll) {
        return {"EKestException", {row.catchAll}};
    }
    return {"int", {}};
}

std::string classOf(const EKestException& error)
{
    const std::type_index type = typeid(error);
    if (type == typeid(EKestInvalidParameter)) {
        return "EKestInvalidParameter";
    }
    if (type == typeid(EKestWinError)) {
        return "EKestWinError";
    }
    if (type == typeid(EKestMsiError)) {
        return "EKestMsiError";
    }
    return type == typeid(EKestException) ? "EKestException" : type.name();
}

}  // namespace

class HandlerTableTest : public SimTest, public ::testing::WithParamInterface<Row> {};

TEST_P(HandlerTableTest, EachKindOfExceptionLeavesAsTheRowSays)
{
    const Row& row = GetParam();
    for (const Kind kind : {Kind::invalidParameter, Kind::winError, Kind::exception, Kind::foreign}) {
        for (const bool raisedInTheMethod : {true, false}) {
            sim::reset();
            const char* origin = raisedInTheMethod ? row.context : "Elsewhere::call";
            Outcome actual{"returned", {}};
            std::vector<std::string> addedBy;  // context and file of every entry after the first
            try {
                row.run([=] { raise(kind, origin); });
            } catch (const EKestException& error) {
                actual.what = classOf(error);
                for (const auto& entry : error.getHistory()) {
                    actual.comments.push_back(entry.getComment());
                    if (&entry != &error.getFirstHistoryEntry() || entry.getComment() != "injected") {
                        addedBy.push_back(entry.getContext() + " in " + entry.getFileName());
                    }
                }
            } catch (int) {
                actual.what = "int";
            }

            const int kindNumber = static_cast<int>(kind);
            EXPECT_EQ(actual, expected(row, kind, raisedInTheMethod))
                << "kind " << kindNumber << (raisedInTheMethod ? ", raised in the method" : ", raised elsewhere");
            for (const auto& entry : addedBy) {
                EXPECT_EQ(entry, std::string(row.context) + " in " + row.fileName) << "kind " << kindNumber;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryRow, HandlerTableTest, ::testing::ValuesIn(rows), [](const auto& info) {
    std::string name;
    for (const char* c = info.param.context; *c != '\0' && *c != '('; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) {
            name += *c;
        }
    }
    return name + "_" + std::to_string(info.index);
});
