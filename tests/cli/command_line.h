// Argument vectors for the front end, built from text and null-terminated
// like the ones a process receives.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

class CommandLine {
public:
    CommandLine(std::initializer_list<std::string> arguments) : m_storage(arguments)
    {
        for (std::string& argument : m_storage) {
            m_pointers.push_back(argument.data());
        }
        m_pointers.push_back(nullptr);
    }
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    int argc() const { return static_cast<int>(m_storage.size()); }
    char** argv() { return m_pointers.data(); }

private:
    std::vector<std::string> m_storage;
    std::vector<char*> m_pointers;
};
