// Test data read from tests/data. RTP captures made by independent software: each file holds the packets of one
// stream, each behind its length as two bytes, most significant first (the
// framing of RTP over a byte stream, as GStreamer's rtpstreampay writes it).
// The files and the commands that made them are in tests/data/rtp.
#pragma once

#include "test_rtp.h"

#include <string>
#include <vector>

// The packets of tests/data/rtp/<name>; empty when the file is missing or
// ends inside a packet (the test then fails on its own check).
std::vector<Bytes> LoadCapture(const std::string& name);

// The bytes of tests/data/<path>; empty when the file is missing.
Bytes LoadDataFile(const std::string& path);

// A table of tests/data/<path>: one row a line, its cells apart by "|" and
// trimmed; blank lines and lines starting with "#" left out.
std::vector<std::vector<std::string>> LoadTable(const std::string& path);
