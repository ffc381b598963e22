// Reading a sample clip into memory, bounded, and finding the clips folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The largest clip read: a clip is held in memory whole.
const size_t kMaxClipBytes = size_t(512) << 20;

// The whole file into out. 0, or JX_ERR_FAIL with the reason in sWhy.
int32_t JXReadClipFile(const std::string& sPath, std::vector<uint8_t>& out, std::string& sWhy);
// The folder of the committed clips: "clips" beside this program, else the
// source folder the build names. Empty when neither holds them.
std::string JXFindClipDir();
