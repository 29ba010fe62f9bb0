// Symbol texts in Shift-JIS; the decoder converts them to EUC-JP on output.
#include "arib_tables.h"

namespace skerrow {

const char* const additional_7a[additional_7a_count] = {
    "10.",                // 0x4d
    "11.",                // 0x4e
    "12.",                // 0x4f
    "[HV]",               // 0x50
    "[SD]",               // 0x51
    "[P]",                // 0x52
    "[W]",                // 0x53
    "[MV]",               // 0x54
    "[\x8e\xe8]",         // 0x55 [手]
    "[\x8e\x9a]",         // 0x56 [字]
    "[\x91\x6f]",         // 0x57 [双]
    "[\x83\x66]",         // 0x58 [デ]
    "[S]",                // 0x59
    "[\x93\xf1]",         // 0x5a [二]
    "[\x91\xbd]",         // 0x5b [多]
    "[\x89\xf0]",         // 0x5c [解]
    "[SS]",               // 0x5d
    "[B]",                // 0x5e
    "[N]",                // 0x5f
    "\x81\xa1",           // 0x60 ■
    "\x81\x9c",           // 0x61 ●
    "[\x93\x56]",         // 0x62 [天]
    "[\x8c\xf0]",         // 0x63 [交]
    "[\x89\x66]",         // 0x64 [映]
    "[\x96\xb3]",         // 0x65 [無]
    "[\x97\xbf]",         // 0x66 [料]
    "[\x8c\xae]",         // 0x67 [鍵]
    "[\x91\x4f]",         // 0x68 [前]
    "[\x8c\xe3]",         // 0x69 [後]
    "[\x8d\xc4]",         // 0x6a [再]
    "[\x90\x56]",         // 0x6b [新]
    "[\x8f\x89]",         // 0x6c [初]
    "[\x8f\x49]",         // 0x6d [終]
    "[\x90\xb6]",         // 0x6e [生]
    "[\x94\xcc]",         // 0x6f [販]
    "[\x90\xba]",         // 0x70 [声]
    "[\x90\x81]",         // 0x71 [吹]
    "[PPV]",              // 0x72
    "(\x94\xe9)",         // 0x73 (秘)
    "[\x91\xbc]",         // 0x74 [他]
};

const char* const additional_7e[additional_7e_count] = {
    "(1)", "(2)",  "(3)",  "(4)",  "(5)",  "(6)",  "(7)",  "(8)",
    "(9)", "(10)", "(11)", "(12)", "(13)", "(14)", "(15)", "(16)",
};

const char* const additional_7d[additional_7d_count] = {"!!", "!?"};

const char* const hiragana_symbols[kana_symbol_count] = {
    "\x81\x54",  // ゝ
    "\x81\x55",  // ゞ
    "\x81\x5b",  // ー
    "\x81\x42",  // 。
    "\x81\x75",  // 「
    "\x81\x76",  // 」
    "\x81\x41",  // 、
    "\x81\x45",  // ・
    "",
};

const char* const katakana_symbols[kana_symbol_count] = {
    "\x81\x52",  // ヽ
    "\x81\x53",  // ヾ
    "\x81\x5b",  // ー
    "\x81\x42",  // 。
    "\x81\x75",  // 「
    "\x81\x76",  // 」
    "\x81\x41",  // 、
    "\x81\x45",  // ・
    "",
};

}  // namespace skerrow
