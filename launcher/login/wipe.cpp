// wipe.cpp - the release of secret texts.
#include "login/wipe.h"

void releaseSecret(std::string& text, const char* /*what*/) {
    std::string().swap(text);
}
