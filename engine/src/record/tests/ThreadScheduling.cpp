#include "ThreadScheduling.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace lagwell::test {

std::vector<ThreadScheduling> prioritiesOfThreadsNamed(const std::string& name)
{
    std::vector<ThreadScheduling> values;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream commFile(task.path() / "comm");
        std::string comm;
        std::getline(commFile, comm);
        if (comm != name)
            continue;
        std::ifstream statFile(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
        // Fields after the name in parentheses, from the state (field 3) on;
        // the nice value is field 19, the policy field 41.
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        ThreadScheduling priority;
        for (int i = 3; i <= 41 && fields >> field; ++i) {
            if (i == 19)
                priority.nice = std::stoi(field);
            if (i == 41)
                priority.policy = std::stoi(field);
        }
        values.push_back(priority);
    }
    return values;
}

}  // namespace lagwell::test
