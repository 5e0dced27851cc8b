#pragma once

#include <string>
#include <string_view>

namespace qvr {

// Numbers of the program's string table.
enum StringId : unsigned {
    IDS_UPDATE_AGENT = 102,
    IDS_APP_TITLE = 186,
    IDS_INSTANCE_MUTEX = 2000,
    IDS_REQUEST_MARKER = 2001,
    IDS_HANDOFF_MAPPING = 2002,
    IDS_PRODUCT_NAME = 2003,
    IDS_REGISTRY_BASE = 2004,
    IDS_RESOLVE_GATE = 2005,
    IDS_TRACK_INFO_PATH = 2006,
    IDS_STORE_HOST = 2007,
    IDS_DOWNLOAD_GATE = 2008,
    IDS_UPDATE_QUESTION = 2010,
    IDS_ABOUT_MENU = 2011,
    IDS_VERSION_LIST = 2012,
    IDS_STATUS_FONT = 2013,
    IDS_PERCENT_FONT = 2014,
    IDS_FOLDER_FONT = 2015,
    IDS_RADIO_FONT = 2016,
    IDS_RADIO_URL = 2017,
    IDS_HOME_URL = 2018,
    IDS_UPDATE_FOLDER_URL = 2019,
};

// The store's web host compiled into the program.
std::string_view defaultStoreHost();

// True for "host" or "host:port" (port 1 to 65535) with a host made of letters,
// digits, "-" and "." or an IPv6 address in brackets.
bool isValidStoreHost(std::string_view host);

// String `id` of the table with `storeHost` as the store's host in the strings that
// name it; empty for a number the table does not have.
std::string loadString(unsigned id, std::string_view storeHost);

// The same, with the compiled-in store host in the strings that name one; a start
// that talks to another store passes its host to the form above.
std::string loadString(unsigned id);

} // namespace qvr
