// Element names of the XML dialect: names may not hold spaces, so a space is stored as "..".
#pragma once

#include <string>

// Every space becomes "..".
std::string encodeXmlName(const std::string& name);
// Every ".." becomes a space, scanning from the start after each replacement.
std::string decodeXmlName(const std::string& name);
// Not empty, first byte ASCII and not a digit, and no space, '/' or '\'.
bool isValidXmlName(const std::string& name);
