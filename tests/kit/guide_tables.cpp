// Prints the guide's table of the model's calls and what the fault sweep answers when it refuses
// each, from the sweep's own rows and the model's system texts, so that the guide cannot go stale.
// Reads "SECTION<TAB>RESULT TYPE<TAB>FUNCTION" lines, in the order of the platform header, from
// standard input.
#include "testing/FaultSweep.h"

#include "QelCustInst/Simulation.h"

#include <iostream>
#include <string>

namespace {

// The model's system text of a code, without its line end; empty where it has none.
std::string systemText(DWORD code)
{
    char text[512] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string found(text, length);
    while (!found.empty() && (found.back() == '\n' || found.back() == '\r')) {
        found.pop_back();
    }
    return found;
}

// A code with its text: "259 (No more data is available.)".
std::string withText(std::int64_t code)
{
    const std::string text = code > 0 ? systemText(static_cast<DWORD>(code)) : "";
    return std::to_string(code) + (text.empty() ? "" : " (" + text + ")");
}

// The refusals of a function: an installer error (a UINT result) or a last error with its text.
std::string refusals(const std::string& type, const std::string& function)
{
    std::string answers;
    for (const qel::testing::Refusal& refusal : qel::testing::FaultSweep::refusalsOf(function)) {
        answers += answers.empty() ? "" : "; ";
        answers += type == "UINT" ? withText(refusal.result) : std::to_string(refusal.result);
        answers += refusal.lastError != 0 ? ", last error " + withText(refusal.lastError) : "";
    }
    return answers.empty() ? "never refused" : answers;
}

}  // namespace

int main()
{
    sim::reset();
    std::cout << "| call | what the sweep's refusals answer (result, last error) |\n|---|---|\n";
    std::string line;
    std::string section;
    while (std::getline(std::cin, line)) {
        const std::size_t tab = line.find('\t');
        const std::size_t second = line.find('\t', tab + 1);
        if (second == std::string::npos) {
            continue;
        }
        if (line.compare(0, tab, section) != 0) {
            section = line.substr(0, tab);
            std::cout << "| *" << section << "* | |\n";
        }
        const std::string type = line.substr(tab + 1, second - tab - 1);
        const std::string function = line.substr(second + 1);
        std::cout << "| `" << function << "` | " << refusals(type, function) << " |\n";
    }
    return 0;
}
