#include "miners/VQTDataMinerMemory.h"

#include "miners/text_format.h"

namespace vq {
namespace {

// Megabytes of 4096-byte pages, in the kernel's 32-bit arithmetic.
std::uint32_t megabytes(std::uint32_t pages) { return (pages * 4u) >> 10; }

float percentOf(std::uint32_t part, std::uint32_t total) {
    // An empty total (nothing readable) shows 0 %, never NaN.
    if (total == 0) return 0.0f;
    return 100.0f * (static_cast<float>(part) / static_cast<float>(total));
}

// Steps the unit up while above 1000, dividing by 1024 each time; stops at
// the last unit.
std::string scaledMegabytes(float x, const char* bigFormat) {
    static const char* const units[] = {"mb", "gb", "tb"};
    int i = 0;
    while (x > 1000.0f && i < 2) {
        x *= 0.0009765625f;
        ++i;
    }
    if (i == 0) return formatText("%.0f%s", static_cast<double>(x), units[0]);
    return formatText(bigFormat, static_cast<double>(x), units[i]);
}

}  // namespace

VQTDataMinerMemory::VQTDataMinerMemory(std::shared_ptr<MemoryStats> stats) : stats_(std::move(stats)) {}

std::string VQTDataMinerMemory::convertM(float mb) { return scaledMegabytes(mb, "%.2f%s"); }

std::string VQTDataMinerMemory::convertSwap(float mb) { return scaledMegabytes(mb, "%.1f%s"); }

std::string VQTDataMinerMemory::formatPageCount(std::uint32_t pages) {
    const float value = static_cast<float>(pages);
    if (value > 999999.0f) return formatText("%.1fmil", static_cast<double>(value) / 1000000.0);
    const std::string digits = std::to_string(static_cast<std::uint32_t>(value));
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

std::string VQTDataMinerMemory::getSwap() {
    // An unreadable swap size shows as no swap.
    const std::uint64_t bytes = stats_->swapTotalBytes().value_or(0);
    return convertSwap(static_cast<float>(bytes) * 9.5367431640625e-07f);
}

void VQTDataMinerMemory::mineData() {
    auto vm = stats_->hostStatistics();
    if (!vm) return;
    const std::uint32_t free = megabytes(vm->freeCount);
    const std::uint32_t active = megabytes(vm->activeCount);
    const std::uint32_t inactive = megabytes(vm->inactiveCount);
    const std::uint32_t wired = megabytes(vm->wireCount);
    const std::uint32_t used = active + wired;
    const std::uint32_t total = free + used + inactive;

    const auto text = [](std::uint32_t mb) { return convertM(static_cast<float>(mb)); };
    latestData = Value::array({
        text(free),
        text(used),
        text(active),
        text(inactive),
        text(wired),
        static_cast<double>(percentOf(used, total)),
        formatPageCount(vm->pageins),
        formatPageCount(vm->pageouts),
        text(free + inactive),
        getSwap(),
        static_cast<double>(percentOf(wired, total)),
        static_cast<double>(percentOf(active, total)),
    });
}

}  // namespace vq
