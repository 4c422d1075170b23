// The first element of an ordered map not below a key, looked for from an
// element near it before the tree is searched from its root. The page forms
// ask the parser for positions in page order, a few bytes apart, so the
// answer is almost always the element a look-up landed on last or a step
// away; a descent from the root would cost a logarithm of the page's size in
// steps and, on a page of megabytes, a cache miss at nearly every one.
#pragma once

#include <iterator>

// At most this many steps from the near element before giving up on it.
inline constexpr int kNearbyLowerBoundSteps = 8;

// map.lower_bound(key), found by walking from itNear (map.end(): no near
// element, the tree is searched). itNear must be an iterator of map.
template <class Map>
typename Map::iterator NearbyLowerBound(Map& map, typename Map::iterator itNear, const typename Map::key_type& key) {
  const auto less = map.key_comp();
  auto it = itNear;
  if (it == map.end()) return map.lower_bound(key);
  // A step past the last element would climb the whole tree: the last one is
  // where searches in page order stand most of the time, so it is asked first.
  const auto itLast = std::prev(map.end());
  for (int nStep = 0; nStep < kNearbyLowerBoundSteps; ++nStep) {
    if (less(it->first, key)) {
      // Below the key: the answer lies after it.
      if (it == itLast) return map.end();
      ++it;
      continue;
    }
    // Not below the key: the answer unless the one before is not below it either.
    if (it == map.begin()) return it;
    const auto itBefore = std::prev(it);
    if (less(itBefore->first, key)) return it;
    it = itBefore;
  }
  return map.lower_bound(key);
}
