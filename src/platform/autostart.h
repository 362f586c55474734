#pragma once

namespace tn {

// The entry that starts the program when the user logs on.
class IAutostart {
public:
    virtual ~IAutostart() = default;
    // Creates the entry when on, removes it when off; a missing entry is removed silently.
    virtual bool set(bool on) = 0;
    virtual bool isSet() const = 0;
};

} // namespace tn
