// The Python Deck object, shared by the deck, validation and workspace bindings.
#pragma once

#include <memory>

#include "deck/deck.hpp"
#include "python/frame.hpp"

namespace tarvex::py {

struct PyDeck : Claimable {
    std::unique_ptr<Deck> deck;
};

// A Deck Python object owning `d`.
nb::object deck_to_py(std::unique_ptr<Deck> d);

}  // namespace tarvex::py
