// The list of MIDI sources and the connection of one of them to the input
// endpoint, as the channel window sees them. The endpoint provides it; tests
// give a roster of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MidiSourceInfo {
    std::uint32_t id;  // stays the same while the source exists
    std::string name;  // for menus
};

class MidiRoster {
  public:
    virtual ~MidiRoster() = default;
    // GUI thread. The sources present now, in the service's order.
    virtual std::vector<MidiSourceInfo> sources() = 0;
    // GUI thread. Connects the source with this ID instead of the current
    // one; false when no such source exists any more.
    virtual bool connect(std::uint32_t id) = 0;
    // GUI thread. Disconnects the current source.
    virtual void disconnect() = 0;
    // GUI thread. The connected source (ID 0 and an empty name when none).
    virtual std::uint32_t connected_id() const = 0;
    virtual const std::string& connected_name() const = 0;
};

// GUI thread. The roster of the running program; null without MIDI input.
extern MidiRoster* midi_roster;
