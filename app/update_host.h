// The update server's host name (with ":port" when it has one): a deployment
// constant of the program. Any thread.
#pragma once
#include <string>

std::wstring UpdateHost();
