// Little-endian fields of the byte layouts the setup reads and writes (package, icon,
// bitmap), whatever the byte order of the machine.
#pragma once
#include <stdint.h>

static inline uint16_t ReadLe16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

static inline uint32_t ReadLe32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static inline uint64_t ReadLe64(const uint8_t* p)
{
    return ReadLe32(p) | ((uint64_t)ReadLe32(p + 4) << 32);
}

static inline void PutLe16(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static inline void PutLe32(uint8_t* p, uint32_t v)
{
    PutLe16(p, v & 0xFFFF);
    PutLe16(p + 2, v >> 16);
}
