#include "platform/sim/sim_smart.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "platform/sim/sim_smc.h"

namespace vq {
namespace {

[[noreturn]] void malformed(const std::string& what) { throw std::runtime_error("machine file: \"smart\" " + what); }

AtaBlock block(const nlohmann::json& value, const char* name) {
    const auto bytes = value.is_string() ? decodeHexBytes(value.get<std::string>()) : std::nullopt;
    AtaBlock out{};
    if (!bytes || bytes->size() != out.size())
        malformed(std::string("\"") + name + "\" must hold exactly 512 bytes in hex");
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return out;
}

class SimSmartInterface : public SmartInterface {
public:
    explicit SimSmartInterface(std::shared_ptr<SimSmart> drive) : drive_(std::move(drive)) {}

    int getATAIdentifyData(AtaBlock& out) override {
        if (step("identify") != 0 || !drive_->identify) return kSmartStepFailed;
        out = *drive_->identify;
        return 0;
    }
    int SMARTEnableDisableOperations(bool enable) override { return step(enable ? "enable on" : "enable off"); }
    int SMARTEnableDisableAutosave(bool enable) override { return step(enable ? "autosave on" : "autosave off"); }
    int SMARTReturnStatus(bool& exceeded) override {
        exceeded = false;
        return step("returnStatus");
    }
    int SMARTExecuteOffLineImmediate(bool) override { return step("offline"); }
    int SMARTReadData(AtaBlock& out) override {
        if (step("readData") != 0 || !drive_->smartData) return kSmartStepFailed;
        out = *drive_->smartData;
        return 0;
    }
    int SMARTValidateReadData(const AtaBlock&) override { return step("validate"); }

private:
    // Records the operation; the failing step answers an error (both its
    // "on" and "off" forms).
    int step(const std::string& operation) {
        drive_->operations.push_back(operation);
        const std::string name = operation.substr(0, operation.find(' '));
        return name == drive_->failStep ? kSmartStepFailed : 0;
    }
    std::shared_ptr<SimSmart> drive_;
};

}  // namespace

SmartPlugIn SimSmart::createPlugIn(RegistryEntryId, const std::string& bsdName) {
    operations.push_back("plugIn " + bsdName);
    if (failStep == "plugIn") return {kSmartStepFailed, nullptr};
    if (failStep == "interface") return {0, nullptr};
    return {0, std::make_unique<SimSmartInterface>(shared_from_this())};
}

std::shared_ptr<SimSmart> loadSimSmart(const nlohmann::json& smart) {
    static const std::set<std::string> steps = {"plugIn", "interface", "identify", "enable",
                                                "autosave", "returnStatus", "readData", "validate"};
    if (!smart.is_object()) malformed("must be an object");
    auto drive = std::make_shared<SimSmart>();
    if (smart.contains("identify")) drive->identify = block(smart["identify"], "identify");
    if (smart.contains("smartData")) drive->smartData = block(smart["smartData"], "smartData");
    if (smart.contains("failStep")) {
        if (!smart["failStep"].is_string() || !steps.contains(smart["failStep"].get<std::string>()))
            malformed("\"failStep\" must name a step");
        drive->failStep = smart["failStep"].get<std::string>();
    }
    return drive;
}

}  // namespace vq
