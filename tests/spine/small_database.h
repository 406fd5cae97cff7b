// Writes the four dictionary files, through the embedded record manager, for
// a database whose FILE.DDF lists the given tables and whose other
// dictionaries are empty. The tables' data files are not created.
#pragma once

#include <string>
#include <vector>

void WriteSmallDatabase(const std::string& directory, const std::vector<std::string>& tables);
