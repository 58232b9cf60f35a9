// The base of every object behind one of the layer's handles (events and open ports).
#pragma once

namespace comm {

class Object {
public:
    virtual ~Object() = default;
};

} // namespace comm
