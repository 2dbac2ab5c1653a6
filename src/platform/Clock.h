// Now, as a local-time day number.
#pragma once

namespace quorvel {

class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
    int currentYear() const;
};

class SystemClock : public Clock {
public:
    double now() const override;
};

}  // namespace quorvel
