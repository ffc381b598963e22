#include "rtp_capture.h"

#include <fstream>
#include <iterator>
#include <sstream>

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

std::vector<std::vector<std::string>> LoadTable(const std::string& path)
{
    const Bytes file = LoadDataFile(path);
    std::istringstream in(std::string(file.begin(), file.end()));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#') continue;
        std::vector<std::string> cells;
        std::istringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, '|');) {
            const size_t b = cell.find_first_not_of(" \t\r");
            cells.push_back(b == std::string::npos ? "" : cell.substr(b, cell.find_last_not_of(" \t\r") + 1 - b));
        }
        rows.push_back(cells);
    }
    return rows;
}
