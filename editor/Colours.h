#pragma once

#include <juce_graphics/juce_graphics.h>

namespace varnholt::colours
{

// The editor's fixed palette. Every paint names its colours from here.
inline const juce::Colour background   { 0xFF222222 }; // window and pad background, dark text
inline const juce::Colour groove       { 0xFF252525 }; // slider grooves and knob scales
inline const juce::Colour panel        { 0xFF333333 }; // panels and frames
inline const juce::Colour box          { 0xFF424242 }; // text-box backgrounds, panels, frames
inline const juce::Colour knobBody     { 0xFF525252 }; // knob bodies, an idle toggle that is off
inline const juce::Colour toggleHover  { 0xFF616161 }; // a toggle that is off, under the pointer
inline const juce::Colour thumb        { 0xFF7A7A7A }; // slider thumbs
inline const juce::Colour lightText    { 0xFFB4B4B4 };
inline const juce::Colour ballRing     { 0xFFCECECE }; // the ring of the selected ball
inline const juce::Colour accent       { 0xFFFFCC41 };
inline const juce::Colour toggleAccent { 0xFFFCCC41 }; // the toggles' and arrow buttons' yellow
inline const juce::Colour buttonText   { 0xFF202020 }; // text on a yellow toggle, arrow buttons' fill

} // namespace varnholt::colours
