-- wrk script: one kind of search, named by KIND, each request with the next of several keywords
-- (or pages), so no single name range stays hot. `wrk ... -s search_kinds.lua` with KIND unset
-- or unknown stops at once and lists the kinds.
--
-- Every request is the query the tool sends: min/max 0 (no bound), op=zahe, o=o_5, com and net
-- ticked, page 0, unless the kind says otherwise.

local mixed = { "zh", "an", "hao", "shop", "8", "li", "cloud", "xin", "ma", "go", "wang", "88",
                "tian", "a", "data", "yun", "ch", "love", "bei", "52" }
local one = { "a", "e", "i", "o", "n", "g", "h", "u", "8", "x", "q", "z" }
local two = { "an", "zh", "li", "ma", "go", "88", "ch", "ng", "ou", "13", "xi", "er" }
local three = { "hao", "xin", "ang", "ing", "520", "sho", "clo", "yun", "abc", "888", "zha", "tec" }
local digit = { "8", "88", "520", "1", "66", "2026", "0", "9", "168", "3", "99", "51" }
local broad = { "a", "e", "i", "o", "n", "g", "h", "u" }
local pages = { "0", "1", "2", "3", "4", "5", "6", "7", "8", "9" }
local all4 = "com=com&net=net&org=org&cn=cn"

-- key/page (and o when a list): lists rotated through; the other fields replace the defaults.
local kinds = {
  prefix    = { key = mixed, kaiwei = "starts" },
  suffix    = { key = mixed, kaiwei = "end" },
  startsend = { key = mixed, kaiwei = "startsend" },
  contains1 = { key = one },
  contains2 = { key = two },
  contains3 = { key = three },
  letters   = { key = mixed, op = "char" },
  digits    = { key = digit, op = "num" },
  o_1       = { key = mixed, o = "o_1" },
  o_2       = { key = mixed, o = "o_2" },
  o_3       = { key = mixed, o = "o_3" },
  o_4       = { key = mixed, o = "o_4" },
  o_5       = { key = mixed, o = "o_5" },
  deep200   = { key = broad, page = { "200" } },
  deep2000  = { key = broad, page = { "2000" } },
  deeptwo   = { key = two, page = { "500", "2000" } },
  deepsorts = { key = { "", "a", "an", "e", "" }, page = { "2000", "5000" }, o = { "o_1", "o_2", "o_3", "o_4" } },
  nokey     = { key = { "" }, page = pages },
  nokey2000 = { key = { "" }, page = { "2000" } },
  com       = { key = mixed, suffixes = "com=com" },
  all4      = { key = mixed, suffixes = all4 },
}

local name = os.getenv("KIND") or ""
local kind = kinds[name]
local i = 0

local function known()
  local names = {}
  for k in pairs(kinds) do names[#names + 1] = k end
  table.sort(names)
  return table.concat(names, " ")
end

init = function()
  if not kind then
    io.stderr:write("search_kinds.lua: KIND must be one of: " .. known() .. "\n")
    os.exit(2)
  end
end

request = function()
  i = i + 1
  local keys = kind.key
  local pageList = kind.page or { "0" }
  local key = keys[(i - 1) % #keys + 1]
  local page = pageList[math.floor((i - 1) / #keys) % #pageList + 1]
  local o = kind.o or "o_5"
  if type(o) == "table" then o = o[(i - 1) % #o + 1] end
  local path = "/s/?key=" .. key .. "&kaiwei=" .. (kind.kaiwei or "radom") ..
               "&min=0&max=0&op=" .. (kind.op or "zahe") .. "&o=" .. o ..
               "&" .. (kind.suffixes or "com=com&net=net") .. "&tsym=0&d=0&do=do&page=" .. page
  return wrk.format("GET", path)
end
