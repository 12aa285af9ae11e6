// One line per event on standard error, prefixed "phonesim:", written whole
// even when several connection threads log at once.
#pragma once

#include <iostream>
#include <mutex>
#include <sstream>

class Log {
public:
    template <typename... Args>
    static void line(Args&&... args)
    {
        std::ostringstream ss;
        ss << "phonesim: ";
        (ss << ... << args);
        ss << '\n';
        static std::mutex m;
        std::lock_guard<std::mutex> lock(m);
        std::cerr << ss.str() << std::flush;
    }
};
