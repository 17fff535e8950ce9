// The raise functions of author code, apart from the library's own: a DLL that never calls them
// links none of this.
#include "errors/Raise.h"

#include <string>
#include <string_view>
#include <utility>

namespace qel::detail {
namespace {

// "void {anonymous}::Owner::write(const std::string&)" as a history entry names it: "Owner::write".
KestCString contextOf(const char* function)
{
    const std::string_view name(function);
    // The name ends where its parameters begin, and starts after its return type.
    std::size_t end = 0;
    int depth = 0;
    for (; end < name.size() && !(name[end] == '(' && depth == 0); ++end) {
        depth += name[end] == '<' ? 1 : name[end] == '>' ? -1 : 0;
    }
    std::size_t begin = end;
    for (depth = 0; begin > 0 && !(name[begin - 1] == ' ' && depth == 0); --begin) {
        depth += name[begin - 1] == '>' ? 1 : name[begin - 1] == '<' ? -1 : 0;
    }
    std::string context(name.substr(begin, end - begin));
    constexpr std::string_view anonymous = "{anonymous}::";
    for (std::size_t at; (at = context.find(anonymous)) != std::string::npos;) {
        context.erase(at, anonymous.size());
    }
    return KestCString(std::move(context));
}

// ".../src/OutputFile.cpp" as a history entry names it: "OutputFile".
KestCString fileOf(const char* path)
{
    std::string_view name(path);
    if (const std::size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    return KestCString(std::string(name.substr(0, name.rfind('.'))));
}

}  // namespace

void raise(Raised kind, const RaiseComment& comment, DWORD code, const std::source_location& where)
{
    const KestCString context = contextOf(where.function_name());
    const KestCString file = fileOf(where.file_name());
    const PersistingRule rule(context.c_str(), file.c_str(), persisting::none, persisting::none, persisting::none,
                              persisting::noCatchAll);
    const int line = static_cast<int>(where.line());
    switch (kind) {
    case Raised::invalidParameter:
        persisting::detail::raiseInvalidParameter(rule, comment, line);
    case Raised::winError:
        persisting::detail::raiseWinError(rule, comment, code, line);
    case Raised::msiError:
        persisting::detail::raiseMsiError(rule, comment, code, line);
    case Raised::exception:
        break;
    }
    persisting::detail::raiseException(rule, comment, line);
}

void raiseFileException(const RaiseComment& comment, const WideText& file, DWORD code,
                        const std::source_location& where)
{
    const KestCString context = contextOf(where.function_name());
    const KestCString source = fileOf(where.file_name());
    const PersistingRule rule(context.c_str(), source.c_str(), persisting::none, persisting::none, persisting::none,
                              persisting::noCatchAll);
    persisting::detail::raiseFileException(rule, comment, file, code, static_cast<int>(where.line()));
}

}  // namespace qel::detail
