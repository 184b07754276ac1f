// Visibility of the framework library's classes and functions.
#pragma once

#define FW_API __attribute__((visibility("default")))
