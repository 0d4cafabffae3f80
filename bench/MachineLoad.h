#pragma once

// Other work on the machine, as a user has it beside compilers and browsers: one busy process
// per core, at the benchmark's own priority (a child inherits its parent's nice value, so if the
// benchmark raised its priority, so did they). They run from construction to destruction.

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace zq::bench
{

class MachineLoad
{
public:
    explicit MachineLoad(int processes = int(sysconf(_SC_NPROCESSORS_ONLN)))
    {
        for (int i = 0; i < processes; ++i) {
            const pid_t child = fork();
            if (child == 0)
                spin();
            if (child > 0)
                children_.push_back(child);
        }
    }
    ~MachineLoad()
    {
        for (const pid_t child : children_)
            kill(child, SIGKILL);
        for (const pid_t child : children_)
            waitpid(child, nullptr, 0);
    }
    MachineLoad(const MachineLoad &) = delete;
    MachineLoad &operator=(const MachineLoad &) = delete;

    int processes() const { return int(children_.size()); }

private:
    [[noreturn]] static void spin()
    {
        volatile unsigned long counter = 0;
        for (;;)
            counter = counter + 1;
    }

    std::vector<pid_t> children_;
};

} // namespace zq::bench
