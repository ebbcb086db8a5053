// The one structure of hidapi's interface that the program reads: an entry of hid_enumerate's list, laid out
// as the library lays it out.
#pragma once

#include <cwchar>

struct hid_device_info {
    char* path;
    unsigned short vendor_id;
    unsigned short product_id;
    wchar_t* serial_number;
    unsigned short release_number;
    wchar_t* manufacturer_string;
    wchar_t* product_string;
    unsigned short usage_page;
    unsigned short usage;
    int interface_number;
    hid_device_info* next;
};
