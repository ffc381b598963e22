// Base64 (RFC 4648), MD5 (RFC 1321) and SHA-256 (FIPS 180-4).
#pragma once

#include "JXBaseDefs.h"

// Room for a digest as lower-case hex and its NUL.
constexpr int32_t JX_MD5_HEX_SIZE = 33;
constexpr int32_t JX_SHA256_HEX_SIZE = 65;

extern "C" {
// Encode n bytes. *ppOut gets a NUL-ended heap text for free(), *pOutLen its length.
// 0, JX_ERR_ARG (null out pointers, negative n) or JX_ERR_NOMEM.
JXBASE_API int32_t JXBASE64Encode(char** ppOut, int32_t* pOutLen, const void* pData, int32_t n);
// Decode the NUL-ended text. bStrict (1): any character outside the alphabet,
// bad padding or a bad length is refused with JX_ERR_CONTENT. *ppOut is a heap
// buffer for free() with a NUL after the *pOutLen decoded bytes.
JXBASE_API int32_t JXBASE64Decode(char** ppOut, int32_t* pOutLen, const char* pText, int32_t bStrict);
// MD5 of n bytes as 32 lower-case hex digits and a NUL into pOut
// (JX_MD5_HEX_SIZE bytes). 0 or JX_ERR_ARG.
JXBASE_API int32_t JXMD5Data(const void* pData, int32_t n, char* pOut);
// SHA-256 of n bytes as 64 lower-case hex digits and a NUL into pOut
// (JX_SHA256_HEX_SIZE bytes). 0 or JX_ERR_ARG.
JXBASE_API int32_t JXSHA256Data(const void* pData, int32_t n, char* pOut);
}
