-- wrk script: lookups of the names listed in the file LOOKUP_NAMES (one per line), in turn.
local names = {}
for line in io.lines(os.getenv("LOOKUP_NAMES")) do names[#names + 1] = line end
local i = 0

request = function()
  i = i % #names + 1
  return wrk.format("GET", "/whois/?domain=" .. names[i] .. "&Whois%5B%5D=1&Whois%5B%5D=2&Whois%5B%5D=3")
end
