#pragma once
// The weights text and symbols are drawn at, shared by the panels' scene and the
// controller's picture layers. Pure; any thread.

namespace trelliq::scene {

enum class Weight { regular, medium, semibold, bold };

}  // namespace trelliq::scene
