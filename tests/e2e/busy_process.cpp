// Keeps two threads per processor busy for the seconds given (30 by default),
// so that it is the busiest process on the machine while other programs
// compete. The scheduler shares processors by thread, and, where the kernel
// groups processes by session (autogroup), first by session: so this process
// starts a session of its own and, when allowed, gives that group a higher
// weight.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(argc > 1 ? std::atoi(argv[1]) : 30);
    ::setsid();
    std::ofstream("/proc/self/autogroup") << "-5";
    const auto spin = [end] {
        while (std::chrono::steady_clock::now() < end) {
        }
    };
    std::vector<std::thread> threads(2 * std::max(1u, std::thread::hardware_concurrency()) - 1);
    for (auto& thread : threads) thread = std::thread(spin);
    spin();
    for (auto& thread : threads) thread.join();
}
