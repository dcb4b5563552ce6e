#pragma once
// The channel type registry: channel type name -> create function, and
// channel type name -> type test. Filled by registerChannelTypes() (cb/factory/BuiltinTypes.h) at library
// start-up, emptied by releaseChannelTypes() at shutdown. Plug-ins receive
// pointers to the two tables and register into the host's copies.

#include <map>
#include <string>

#include "cb/CbRefPtr.h"
#include "cb/model/Channel.h"

namespace Cb {

class ZtpReader;

// A new channel with an empty name and a zero default; the caller owns it.
using ChannelCreateFn = Channel* (*)();
// Whether the channel's dynamic type is (derived from) the registered class.
using ChannelTestFn = bool (*)(const Channel*);

using ChannelCreateTable = std::map<std::string, ChannelCreateFn>;
using ChannelTestTable = std::map<std::string, ChannelTestFn>;

ChannelCreateTable& channelCreateTable();
ChannelTestTable& channelTestTable();

// Registers a name; a null `create` makes it a type test only (abstract
// branch bases). A name already present keeps its first entry and logs a
// warning.
void registerChannelType(const std::string& typeName, ChannelCreateFn create, ChannelTestFn test);

template <class T>
Channel* newChannelOf() {
    return new T();
}

template <class T>
bool isChannelOf(const Channel* channel) {
    return dynamic_cast<const T*>(channel) != nullptr;
}

// A creatable class under its static type name.
template <class T>
void registerChannelClass() {
    registerChannelType(T::staticTypeName(), &newChannelOf<T>, &isChannelOf<T>);
}

// A type test only, for an abstract branch base.
template <class T>
void registerChannelTest() {
    registerChannelType(T::staticTypeName(), nullptr, &isChannelOf<T>);
}

// Shutdown: empties both tables.
void releaseChannelTypes();

// Throws "Unknown channel type: '<name>'" for a name without a create
// function.
Channel* createChannel(const std::string& typeName);
// Throws the same message for a name without a type test.
bool isChannelType(const Channel* channel, const std::string& typeName);

// One channel record: type name, name, (from version 12) stored count and
// statistics, then the class's own data.
CbRefPtr<Channel> readChannel(ZtpReader& reader);

}  // namespace Cb
