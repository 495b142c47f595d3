// CommandLine.cpp - collecting and reading the program's arguments.
#include "builder/CommandLine.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "format/Names.h"

namespace crateforge {

void CBuilderCommandLineInfo::ParseParam(const char* param, bool /*flag*/, bool /*last*/) {
    args.push_back(param);
    ++argCount;
}

void ParseCommandLine(CBuilderCommandLineInfo& info, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* param = argv[i];
        bool flag = param[0] == '-';
        if (flag) {
            ++param;
        }
        info.ParseParam(param, flag, i + 1 == argc);
    }
}

std::string PathExtension(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < start) {
        return {};
    }
    return path.substr(dot);
}

bool IsPackExtension(const std::string& extension) {
    constexpr std::string_view kPack = pack::kPackExtension;
    return extension.size() >= kPack.size() &&
           pack::SameNameIgnoringCase(std::string_view(extension).substr(0, kPack.size()), kPack);
}

CommandLineWork DecideCommandLineWork(const CBuilderCommandLineInfo& info) {
    CommandLineWork work;
    const int count = std::min<int>(info.argCount, static_cast<int>(info.args.size()));
    if (count <= 0) {
        return work;
    }
    if (std::strncmp(info.args[0], kOpenSwitch, 2) == 0) {
        if (count == 2) {
            work.kind = CommandLineWork::Kind::OpenPack;
            work.paths.emplace_back(info.args[1]);
        }
        return work;
    }
    if (count == 1 && IsPackExtension(PathExtension(info.args[0]))) {
        work.kind = CommandLineWork::Kind::OpenPack;
        work.paths.emplace_back(info.args[0]);
        return work;
    }
    work.kind = CommandLineWork::Kind::NewPackAndAdd;
    for (int i = 0; i < count; ++i) {
        work.paths.emplace_back(info.args[static_cast<std::size_t>(i)]);
    }
    return work;
}

}  // namespace crateforge
