#pragma once

#include <string>

#include "platform/dshow/filter.h"

// How a graph component speaks to the components bound to it.

class TFilterGraph;

// The notices a graph gives a member around its filter's entry and departure,
// always in this order: adding, added when it enters; removing, removed when it leaves.
enum class TMemberNotice { Adding, Added, Removing, Removed };

// The control notices a graph gives its listeners: Active (value 1 when the graph
// has become active, 0 when it is about to become inactive), Play before it is
// asked to run, Stop before it is asked to stop.
enum class TControlNotice { Active, Play, Stop };

// A filter slot or a video window: something that contributes one filter to a graph.
class GraphMember {
 public:
  virtual void MemberNotice(TMemberNotice notice) = 0;
  // The filter that enters or leaves the graph (may be empty).
  virtual ComPtr<IBaseFilter> MemberFilter() const = 0;
  // The name the filter stands under in the graph.
  virtual std::u16string MemberName() const = 0;
  // The graph component is being destroyed: the member records none as its graph.
  virtual void GraphDestroyed() = 0;

 protected:
  ~GraphMember() = default;
};

// A component told of a graph's control notices and events (the video window).
class GraphListener {
 public:
  virtual void ControlNotice(TControlNotice notice, int value) = 0;
  virtual void GraphEvent(LONG code, LONG param1, LONG param2) = 0;

 protected:
  ~GraphListener() = default;
};
