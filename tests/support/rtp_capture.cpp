#include "rtp_capture.h"

#include <fstream>
#include <iterator>

Bytes LoadDataFile(const std::string& path)
{
    std::ifstream file(std::string(JX_TEST_DATA_DIR) + "/" + path, std::ios::binary);
    if (!file) return {};
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<Bytes> LoadCapture(const std::string& name)
{
    const Bytes file = LoadDataFile("rtp/" + name);
    std::vector<Bytes> packets;
    size_t at = 0;
    while (at + 2 <= file.size()) {
        const size_t n = (size_t(file[at]) << 8) | file[at + 1];
        at += 2;
        if (at + n > file.size()) return {};
        packets.emplace_back(file.begin() + long(at), file.begin() + long(at + n));
        at += n;
    }
    if (at != file.size()) return {};
    return packets;
}
