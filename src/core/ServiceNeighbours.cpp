#include "core/ServiceNeighbours.h"

#include <utility>

namespace orvel {

namespace {

ServiceNeighbours& storage() {
    static ServiceNeighbours neighbours;
    return neighbours;
}

}  // namespace

void ServiceNeighbours::install(ServiceNeighbours neighbours) {
    storage() = std::move(neighbours);
}

const ServiceNeighbours& ServiceNeighbours::installed() {
    return storage();
}

}  // namespace orvel
