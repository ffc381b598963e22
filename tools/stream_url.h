// The check every stream URL passes before anything starts: a URL the module
// could not read, or would refuse, is reported at once with the reason instead
// of becoming a stream that never plays.
#pragma once

#include <string>

// True when sUrl names a stream the module can play: an rtsp, rtspu or rtspm
// scheme, a host, a port from 1 to 65535 when one is written, and user
// information without an unencoded '@'. Otherwise false, with the reason in
// sWhy (no password in it).
bool CheckStreamUrl(const std::string& sUrl, std::string& sWhy);
