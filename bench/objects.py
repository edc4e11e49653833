class O:
    def __init__(self):
        self.x = 0
        self.y = 3
        self.z = 7


o = O()
for i in range(5000000):
    o.x = o.x + o.y
print(o.x)
