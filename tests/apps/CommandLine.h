// A program's command line written as one string of words, handed out as argc and argv; '~'
// stands for a space within a word, and '' for an empty word.
#pragma once

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace kwz_test {

class CommandLine {
 public:
  CommandLine(const char* program, const std::string& line) : words_{program} {
    std::istringstream in(line);
    for (std::string word; in >> word;) {
      std::replace(word.begin(), word.end(), '~', ' ');
      if (word == "''") word.clear();
      words_.push_back(word);
    }
    for (const std::string& word : words_) argv_.push_back(word.c_str());
  }
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  int argc() const { return static_cast<int>(argv_.size()); }
  const char** argv() { return argv_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<const char*> argv_;
};

}  // namespace kwz_test
