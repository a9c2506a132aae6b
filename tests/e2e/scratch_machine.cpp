#include "scratch_machine.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace vq::e2e {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& stem) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/" + stem + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

ScratchMachine::ScratchMachine(const std::string& fixture) : folder_("velquette-home") {
    auto machine = nlohmann::json::parse(readWholeFile(fixture), nullptr, false);
    if (!machine.is_object()) throw std::runtime_error("cannot read the machine file " + fixture);
    machine["home"] = home();
    fs::create_directories(supportFolder());
    machineFile_ = home() + "/machine.json";
    std::ofstream(machineFile_) << machine.dump(2);
}

}  // namespace vq::e2e
